/* Per architecture: glibc's first symbol version, which every later glibc
 * still carries, and the struct stat layout number __fxstat takes. Shared
 * by glibc_compat.c and the emulator's fstat shim. */
#pragma once

#if defined(__x86_64__)
#define PORTULA_GLIBC_BASE "GLIBC_2.2.5"
#define PORTULA_STAT_VERSION 1
#elif defined(__i386__)
#define PORTULA_GLIBC_BASE "GLIBC_2.0"
#define PORTULA_STAT_VERSION 3
#elif defined(__aarch64__)
#define PORTULA_GLIBC_BASE "GLIBC_2.17"
#define PORTULA_STAT_VERSION 0
#elif defined(__arm__)
#define PORTULA_GLIBC_BASE "GLIBC_2.4"
#define PORTULA_STAT_VERSION 3
#else
#error "no old glibc versions known for this architecture"
#endif
