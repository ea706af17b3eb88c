# memcheck runs of the C++ test binaries, with the emulator preloaded as
# portula_add_emulated_test does. umockdev's preload and GLib keep caches for
# the process's life: only definite and indirect leaks count.
find_program(VALGRIND valgrind REQUIRED)
set(_preload "$<TARGET_FILE:testbed_fstat_shim> ${PORTULA_UMOCKDEV_PRELOAD}")
# The emulator's 1,000-device case would take minutes under memcheck, for
# nothing its other cases do not cover.
set(_args_hid_testbed_test --gtest_filter=-Scale.*)
foreach(target chiddevice_test bridge_helpers_test hid_testbed_test)
  add_test(NAME valgrind_${target}
    COMMAND "${VALGRIND}" --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect
            --show-leak-kinds=definite,indirect --track-fds=no --quiet $<TARGET_FILE:${target}> ${_args_${target}})
  set_tests_properties(valgrind_${target} PROPERTIES
    ENVIRONMENT "LD_PRELOAD=${_preload};LC_ALL=C.UTF-8"
    TIMEOUT 900)
endforeach()
