# The JVM that runs this build's Java tests and demo, and what it preloads.
#   PORTULA_TEST_JAVA_HOME  JDK of the build's word size
#   PORTULA_QEMU            qemu-i386 when this kernel cannot run i386 code, else empty
#   PORTULA_UMOCKDEV_PRELOAD  umockdev's preload library of the build's word size
#   PORTULA_RUN_FOREIGN     how a test runs one of this build's programs: empty,
#                           or qemu behind refuse-native-foreign.sh, so that
#                           nothing foreign ever runs natively under qemu
# portula_write_java_wrapper() (called once the emulator's targets exist) writes
# bin/java-emulated and bin/java into the build tree.
if(PORTULA_BITS EQUAL 64)
  set(_jdk /usr/lib/jvm/java-17-openjdk-amd64)
  find_file(PORTULA_UMOCKDEV_PRELOAD libumockdev-preload.so.0
    PATHS /usr/lib/x86_64-linux-gnu NO_DEFAULT_PATH REQUIRED)
else()
  set(_jdk /usr/lib/jvm/java-17-openjdk-i386)
  # umockdev's tools package is not co-installable for i386: scripts/setup.sh
  # unpacks its preload library into .deps/i386.
  find_file(PORTULA_UMOCKDEV_PRELOAD libumockdev-preload.so.0
    PATHS "${CMAKE_SOURCE_DIR}/.deps/i386/usr/lib/i386-linux-gnu" NO_DEFAULT_PATH REQUIRED)
endif()
set(PORTULA_TEST_JAVA_HOME "${_jdk}" CACHE PATH "JDK whose java runs the tests")
if(NOT EXISTS "${PORTULA_TEST_JAVA_HOME}/bin/java")
  message(FATAL_ERROR "no ${PORTULA_TEST_JAVA_HOME}/bin/java: run scripts/setup.sh")
endif()

set(PORTULA_QEMU "")
option(PORTULA_QEMU_ALWAYS "run the 32-bit tests under qemu-i386 even where the kernel runs i386 code" OFF)
execute_process(COMMAND "${PORTULA_TEST_JAVA_HOME}/bin/java" -version
  RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
if(PORTULA_QEMU_ALWAYS AND PORTULA_BITS EQUAL 32)
  set(_rc "forced")
endif()
if(NOT _rc EQUAL 0)
  find_program(QEMU_I386 qemu-i386)
  if(PORTULA_BITS EQUAL 32 AND QEMU_I386)
    message(STATUS "portula: this kernel cannot run i386 code; the test JVM runs under ${QEMU_I386} -Xint")
    set(PORTULA_QEMU "${QEMU_I386}")
  else()
    message(FATAL_ERROR "cannot run ${PORTULA_TEST_JAVA_HOME}/bin/java (exit ${_rc})")
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
  set(JAVA "${PORTULA_TEST_JAVA_HOME}/bin/java")
  set(QEMU "${PORTULA_QEMU}")
  set(ASAN "${PORTULA_ASAN_RUNTIME}")
  set(UMOCKDEV "${PORTULA_UMOCKDEV_PRELOAD}")
  # GLib sets SIGPIPE when it first loads its socket code; with libjsig the
  # JVM keeps its own handlers and -Xcheck:jni has nothing to warn about.
  set(JSIG "${PORTULA_TEST_JAVA_HOME}/lib/libjsig.so")
  set(SHIM "$<TARGET_FILE:${shim_target}>")
  set(REFUSE "${PORTULA_REFUSE_NATIVE_FOREIGN}")
  foreach(kind emulated plain)
    set(KIND ${kind})
    configure_file("${CMAKE_SOURCE_DIR}/cmake/java-wrapper.sh.in"
                   "${CMAKE_BINARY_DIR}/java-wrapper-${kind}.in" @ONLY)
    file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/bin/java-${kind}"
         INPUT "${CMAKE_BINARY_DIR}/java-wrapper-${kind}.in"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                          WORLD_READ WORLD_EXECUTE)
  endforeach()
endfunction()

# A native test that must see the emulated devices: run with the preloads,
# under qemu-i386 where this kernel cannot run the 32-bit build.
function(portula_add_emulated_test name target)
  set(preload "${PORTULA_UMOCKDEV_PRELOAD} $<TARGET_FILE:testbed_fstat_shim>")
  if(PORTULA_ASAN_RUNTIME)
    set(preload "${PORTULA_ASAN_RUNTIME} ${preload}")
  endif()
  # LC_ALL=C: names must come through whatever the process's locale
  if(PORTULA_QEMU)
    add_test(NAME ${name} COMMAND ${PORTULA_RUN_FOREIGN} -E "LD_PRELOAD=${preload}"
                                  -E LC_ALL=C $<TARGET_FILE:${target}> ${ARGN})
  else()
    add_test(NAME ${name} COMMAND $<TARGET_FILE:${target}> ${ARGN})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "LD_PRELOAD=${preload};LC_ALL=C")
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 FAIL_REGULAR_EXPRESSION "runtime error:|ERROR: AddressSanitizer")
endfunction()
