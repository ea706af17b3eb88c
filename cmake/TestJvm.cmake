# The JVM that runs this build's Java tests and demo, and what it preloads.
#   PORTULA_TEST_JAVA_HOME  Debian's JDK of the build's platform
#   PORTULA_QEMU            the qemu-user that runs that JVM and the build's
#                           programs (always for ARM; for i386 where this kernel
#                           cannot run i386 code), else empty
#   PORTULA_QEMU_JVM_FLAGS  what that JVM needs under qemu (the JIT's setting)
#   PORTULA_UMOCKDEV_PRELOAD  umockdev's preload library of the build's platform
#   PORTULA_RUN_FOREIGN     how a test runs one of this build's programs: empty,
#                           or qemu behind refuse-native-foreign.sh, so that
#                           nothing foreign ever runs natively under qemu
#   PORTULA_NEWEST_JAVA_HOME  the newest x86-64 JDK of version 24 or later
#                           under /usr/lib/jvm, in the x86-64 build, else empty:
#                           the suite, the tool and the demo run on it too
# portula_write_java_wrapper() (called once the emulator's targets exist) writes
# bin/java-emulated and bin/java-plain into the build tree, and
# bin/java-newest-emulated and bin/java-newest-plain for that JDK.
#
# Per platform: Debian architecture, qemu-user, JVM flags under qemu. The JIT
# was measured under each qemu (README, "Platforms"): i386's crashes and hangs,
# the ARM ones pass.
set(_debian_x86-64 amd64)
set(_debian_x86 i386)
set(_debian_aarch64 arm64)
set(_debian_arm armhf)
set(_qemu_x86 qemu-i386)
set(_qemu_aarch64 qemu-aarch64)
set(_qemu_arm qemu-arm)
set(_qemu_flags_x86 -Xint)
set(_qemu_flags_aarch64 "")
set(_qemu_flags_arm "")
set(_debian ${_debian_${PORTULA_ARCH}})
set(_jdk /usr/lib/jvm/java-17-openjdk-${_debian})
# Where apt cannot install a platform's JVM, GLib and umockdev beside their
# amd64 twins (multiarch wants both of one version, and the two archives are
# not always in step), scripts/setup.sh unpacks them into .deps/<arch>/root:
# the tests then build against it and run with its libraries.
#   PORTULA_FOREIGN_LIBRARY_PATH  that root's library directories, or empty
set(PORTULA_FOREIGN_LIBRARY_PATH "")
set(_root "${CMAKE_SOURCE_DIR}/.deps/${_debian}/root")
if(NOT PORTULA_HOST_BUILD AND EXISTS "${_root}/.complete")
  set(_jdk "${_root}/usr/lib/jvm/java-17-openjdk-${_debian}")
  set(_libs "${_root}/lib/${CMAKE_LIBRARY_ARCHITECTURE}" "${_root}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}")
  list(JOIN _libs ":" PORTULA_FOREIGN_LIBRARY_PATH)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "${_root}")
  set(ENV{PKG_CONFIG_LIBDIR} "${_root}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/pkgconfig:${_root}/usr/share/pkgconfig")
  list(APPEND CMAKE_LIBRARY_PATH ${_libs})
  # for what GLib and umockdev need in turn
  add_link_options("LINKER:-rpath-link,${PORTULA_FOREIGN_LIBRARY_PATH}")
  message(STATUS "portula: the test JVM, GLib and umockdev come from ${_root}")
endif()
if(PORTULA_HOST_BUILD)
  find_file(PORTULA_UMOCKDEV_PRELOAD libumockdev-preload.so.0
    PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} /usr/lib/x86_64-linux-gnu NO_DEFAULT_PATH REQUIRED)
else()
  # umockdev's tools package is not co-installable for two architectures:
  # scripts/setup.sh unpacks each foreign preload library into .deps/<arch>.
  find_file(PORTULA_UMOCKDEV_PRELOAD libumockdev-preload.so.0
    PATHS "${CMAKE_SOURCE_DIR}/.deps/${_debian}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}" NO_DEFAULT_PATH REQUIRED)
endif()
set(PORTULA_TEST_JAVA_HOME "${_jdk}" CACHE PATH "JDK whose java runs the tests")
if(NOT EXISTS "${PORTULA_TEST_JAVA_HOME}/bin/java")
  message(FATAL_ERROR "no ${PORTULA_TEST_JAVA_HOME}/bin/java: run scripts/setup.sh")
endif()

# Java 24 restricts native access (the warning, or --illegal-native-access=deny):
# where such a JDK is installed, the newest one is tested. Not a dependency.
set(PORTULA_NEWEST_JAVA_HOME "")
set(PORTULA_NEWEST_JAVA_VERSION 23)
if(PORTULA_HOST_BUILD AND NOT PORTULA_SANITIZE AND NOT PORTULA_UBSAN)
  file(GLOB _releases /usr/lib/jvm/*/release)
  foreach(_release IN LISTS _releases)
    file(STRINGS "${_release}" _version REGEX "^JAVA_VERSION=\"[0-9]+")
    file(STRINGS "${_release}" _arch REGEX "^OS_ARCH=\"(x86_64|amd64)\"")
    string(REGEX REPLACE "^JAVA_VERSION=\"([0-9]+).*" "\\1" _version "${_version}")
    get_filename_component(_home "${_release}" DIRECTORY)
    if(_arch AND _version GREATER PORTULA_NEWEST_JAVA_VERSION AND EXISTS "${_home}/bin/jlink")
      set(PORTULA_NEWEST_JAVA_HOME "${_home}")
      set(PORTULA_NEWEST_JAVA_VERSION ${_version})
    endif()
  endforeach()
  if(PORTULA_NEWEST_JAVA_HOME)
    message(STATUS "portula: also tested on Java ${PORTULA_NEWEST_JAVA_VERSION}: ${PORTULA_NEWEST_JAVA_HOME}")
  else()
    message(STATUS "portula: no JDK 24 or later under /usr/lib/jvm: its tests are skipped")
  endif()
endif()

set(PORTULA_QEMU "")
set(PORTULA_QEMU_JVM_FLAGS "")
option(PORTULA_QEMU_ALWAYS "run the i386 tests under qemu-i386 even where the kernel runs i386 code" OFF)
if(NOT PORTULA_HOST_BUILD)
  if(PORTULA_ARCH STREQUAL "x86" AND NOT PORTULA_QEMU_ALWAYS)
    # some kernels run i386 code, some do not
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env "LD_LIBRARY_PATH=${PORTULA_FOREIGN_LIBRARY_PATH}"
                            "${PORTULA_TEST_JAVA_HOME}/bin/java" -version
      RESULT_VARIABLE _native OUTPUT_QUIET ERROR_QUIET)
  else()
    # ARM always under qemu: a kernel that seems to run ARM code does so
    # through a binfmt handler of its own, which is no test of ours
    set(_native "emulated")
  endif()
  if(NOT _native EQUAL 0)
    find_program(PORTULA_QEMU_PROGRAM_${PORTULA_ARCH} ${_qemu_${PORTULA_ARCH}} REQUIRED)
    set(PORTULA_QEMU "${PORTULA_QEMU_PROGRAM_${PORTULA_ARCH}}")
    set(PORTULA_QEMU_JVM_FLAGS ${_qemu_flags_${PORTULA_ARCH}})
    message(STATUS "portula: the test JVM and the build's programs run under ${PORTULA_QEMU} ${PORTULA_QEMU_JVM_FLAGS}")
  endif()
endif()

set(PORTULA_REFUSE_NATIVE_FOREIGN "${CMAKE_SOURCE_DIR}/cmake/refuse-native-foreign.sh")
# scripts/test.sh runs such a build's whole ctest behind that guard
if(PORTULA_QEMU)
  set(PORTULA_TESTS_UNDER_QEMU ON CACHE INTERNAL "")
else()
  set(PORTULA_TESTS_UNDER_QEMU OFF CACHE INTERNAL "")
endif()
set(PORTULA_RUN_FOREIGN "")
if(PORTULA_QEMU)
  set(PORTULA_RUN_FOREIGN "${PORTULA_REFUSE_NATIVE_FOREIGN}" env -u LD_PRELOAD "${PORTULA_QEMU}")
  if(PORTULA_FOREIGN_LIBRARY_PATH)
    list(APPEND PORTULA_RUN_FOREIGN -E "LD_LIBRARY_PATH=${PORTULA_FOREIGN_LIBRARY_PATH}")
  endif()
endif()

# What in a test's output fails it: -Xcheck:jni only prints its findings.
set(PORTULA_JNI_FAILURES
  "WARNING in native method|WARNING: JNI local refs|FATAL ERROR in native method|runtime error:|ERROR: AddressSanitizer")

set(PORTULA_ASAN_RUNTIME "")
if(PORTULA_SANITIZE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
    OUTPUT_VARIABLE PORTULA_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

function(portula_write_java_wrapper shim_target)
  set(QEMU "${PORTULA_QEMU}")
  list(JOIN PORTULA_QEMU_JVM_FLAGS " " QEMU_JVM_FLAGS)
  set(ASAN "${PORTULA_ASAN_RUNTIME}")
  set(UMOCKDEV "${PORTULA_UMOCKDEV_PRELOAD}")
  set(SHIM "$<TARGET_FILE:${shim_target}>")
  set(REFUSE "${PORTULA_REFUSE_NATIVE_FOREIGN}")
  set(LIBRARY_PATH "${PORTULA_FOREIGN_LIBRARY_PATH}")
  set(jdks "java|${PORTULA_TEST_JAVA_HOME}")
  if(PORTULA_NEWEST_JAVA_HOME)
    list(APPEND jdks "java-newest|${PORTULA_NEWEST_JAVA_HOME}")
  endif()
  foreach(jdk IN LISTS jdks)
    string(REPLACE "|" ";" jdk "${jdk}")
    list(GET jdk 0 name)
    list(GET jdk 1 home)
    set(JAVA "${home}/bin/java")
    # GLib sets SIGPIPE when it first loads its socket code; with libjsig the
    # JVM keeps its own handlers and -Xcheck:jni has nothing to warn about.
    # Each JDK preloads its own.
    set(JSIG "${home}/lib/libjsig.so")
    foreach(kind emulated plain)
      set(KIND ${kind})
      configure_file("${CMAKE_SOURCE_DIR}/cmake/java-wrapper.sh.in"
                     "${CMAKE_BINARY_DIR}/${name}-wrapper-${kind}.in" @ONLY)
      file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/bin/${name}-${kind}"
           INPUT "${CMAKE_BINARY_DIR}/${name}-wrapper-${kind}.in"
           FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                            WORLD_READ WORLD_EXECUTE)
    endforeach()
  endforeach()
endfunction()

# A native test that must see the emulated devices: run with the preloads,
# under qemu where the build's code is foreign here.
function(portula_add_emulated_test name target)
  set(preload "$<TARGET_FILE:testbed_fstat_shim> ${PORTULA_UMOCKDEV_PRELOAD}")
  if(PORTULA_ASAN_RUNTIME)
    set(preload "${PORTULA_ASAN_RUNTIME} ${preload}")
  endif()
  # LC_ALL=C: names must come through whatever the process's locale
  if(PORTULA_QEMU)
    add_test(NAME ${name} COMMAND ${PORTULA_RUN_FOREIGN} -E "LD_PRELOAD=${preload}"
                                  -E LC_ALL=C $<TARGET_FILE:${target}> ${ARGN})
  else()
    add_test(NAME ${name} COMMAND $<TARGET_FILE:${target}> ${ARGN})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT
      "LD_PRELOAD=${preload};LC_ALL=C;LD_LIBRARY_PATH=${PORTULA_FOREIGN_LIBRARY_PATH}")
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 FAIL_REGULAR_EXPRESSION "runtime error:|ERROR: AddressSanitizer")
endfunction()
