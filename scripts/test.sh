#!/usr/bin/env bash
# Installs what is needed, builds every platform's library and runs every test:
#   linux64           C++ tests, JUnit suite (-Xcheck:jni), export and ABI checks: x86-64;
#                     the test kit's suite, its jar, and examples/scale under Maven;
#                     where a JDK 24 or later is installed (the newest under /usr/lib/jvm),
#                     the suite again on it (illegal native access denied, the class path
#                     granted it), and the tool, the demo, jlink and Surefire on it: any
#                     WARNING fails them; without one, a row says they were skipped
#   linux64-sanitize  the same, built with AddressSanitizer and UndefinedBehaviorSanitizer
#   linux32           C++ tests and JUnit suite in the i386 JVM (under qemu-i386 -Xint
#                     where the kernel cannot run i386 code)
#   linux32-qemu      the i386 tests again, always under qemu-i386 -Xint
#   linux-aarch64     C++ tests and JUnit suite in the arm64 JVM under qemu-aarch64
#   linux-arm         C++ tests and JUnit suite in the armhf JVM under qemu-arm
#   dist              the jar with all four libraries, and the test kit's with all four
#                     emulators (in each platform's JVM), once linux64, linux32,
#                     linux-aarch64 and linux-arm are built
#   fuzz (last)       2 minutes of the hostile-device fuzzer (ASan/UBSan) and its coverage
# PORTULA_PRESETS="linux64 linux32" picks a subset.
set -uo pipefail
cd "$(dirname "$0")/.."
# What set-up could not install fails the builds that need it, below; the
# others still run.
setup_failed=""
scripts/setup.sh || setup_failed=1

presets=${PORTULA_PRESETS:-"linux64 linux64-sanitize linux32 linux32-qemu linux-aarch64 linux-arm"}
mkdir -p build/logs
rows=()
unbuilt=""
passed=0
failed=0
if [ -n "$setup_failed" ]; then
  rows+=("$(printf '%-18s %-26s %s' setup setup.sh "FAILED (its output, above, names what is missing)")")
  failed=1
fi
for p in $presets; do
  started=$SECONDS
  echo "=== $p: configure and build"
  if ! { cmake --preset "$p" && cmake --build --preset "$p" -j"$(nproc)"; } >"build/logs/$p-build.log" 2>&1; then
    tail -40 "build/logs/$p-build.log"
    rows+=("$(printf '%-18s %-26s %s' "$p" build "FAILED (build/logs/$p-build.log)")")
    failed=$((failed + 1))
    unbuilt="$unbuilt $p"
    continue
  fi
  echo "=== $p: tests"
  # A build whose tests run under qemu runs them where the kernel refuses to
  # run foreign code itself, whatever this kernel could do.
  guard=()
  if grep -q '^PORTULA_TESTS_UNDER_QEMU:INTERNAL=ON$' "build/$p/CMakeCache.txt"; then
    guard=(cmake/refuse-native-foreign.sh)
  fi
  # the dist jar's tests (label dist) need the other platforms' builds: run last, below
  "${guard[@]}" ctest --preset "$p" -LE '^dist$' 2>&1 | tee "build/logs/$p-ctest.log"
  cp "build/$p/Testing/Temporary/LastTest.log" "build/logs/$p-LastTest.log"
  while read -r line; do
    case "$line" in
      "$p-total "*) set -- $line; passed=$((passed + $2)); failed=$((failed + $3)) ;;
      *) rows+=("$line") ;;
    esac
  done < <(scripts/count-cases.sh "$p" "build/logs/$p-LastTest.log")
  rows+=("$(printf '%-18s %-26s %s' "$p" "(time)" "$(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s, build and tests")")
done

dist=1
for p in linux64 linux32 linux-aarch64 linux-arm; do
  [[ " $presets " == *" $p "* ]] || dist=""
done
if [ -n "$dist" ] && [ -n "$unbuilt" ]; then
  rows+=("$(printf '%-18s %-26s %s' dist dist_jar "FAILED (not built:$unbuilt)")")
  failed=$((failed + 1))
elif [ -n "$dist" ]; then
  started=$SECONDS
  echo "=== dist: portula.jar with the libraries of linux64, linux32, linux-aarch64 and linux-arm"
  ctest --preset linux64 -L '^dist$' 2>&1 | tee "build/logs/dist-ctest.log"
  cp build/linux64/Testing/Temporary/LastTest.log build/logs/dist-LastTest.log
  while read -r line; do
    case "$line" in
      "dist-total "*) set -- $line; passed=$((passed + $2)); failed=$((failed + $3)) ;;
      *) rows+=("$line") ;;
    esac
  done < <(scripts/count-cases.sh dist build/logs/dist-LastTest.log)
  rows+=("$(printf '%-18s %-26s %s' dist "(time)" "$(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s, tests")")
fi

# The hostile-device fuzzer, on the 64-bit host build only (never under
# qemu): PORTULA_FUZZ_SECONDS (120; 0 skips) of ASan/UBSan fuzzing from
# fuzz/corpus, then the line coverage of what its corpus reaches.
fuzz_seconds=${PORTULA_FUZZ_SECONDS:-120}
if [ "$fuzz_seconds" -gt 0 ]; then
  started=$SECONDS
  echo "=== fuzz: $fuzz_seconds s of hostile devices (ASan, UBSan), then coverage"
  if scripts/fuzz.sh run "$fuzz_seconds" >build/logs/fuzz.log 2>&1; then
    result=ok; passed=$((passed + 1))
  else
    result=FAILED; failed=$((failed + 1)); tail -60 build/logs/fuzz.log
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' build/logs/fuzz.log)
  rows+=("$(printf '%-18s %-26s %-7s %s' fuzz fuzz_device "$result" "${runs:-?} runs; $(sed -n 's/^fuzz-counters: //p' build/logs/fuzz.log | tail -1)")")
  if scripts/fuzz.sh coverage build/fuzz/corpus fuzz/regressions >build/logs/fuzz-coverage.log 2>&1; then
    while read -r file cover; do
      rows+=("$(printf '%-18s %-26s %-7s %s' fuzz "${file##*/}" "" "line coverage $cover")")
    done < <(awk '$1 ~ /(hid\.c|CHIDDevice\.cpp|utf16\.h)$/ { print $1, $10 }' build/fuzz-coverage/report.txt)
  else
    failed=$((failed + 1)); rows+=("$(printf '%-18s %-26s %s' fuzz coverage "FAILED (build/logs/fuzz-coverage.log)")")
  fi
  rows+=("$(printf '%-18s %-26s %s' fuzz "(time)" "$(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s, build, fuzzing and coverage")")
fi

echo
echo "=== which build ran which suite (full output: build/logs/)"
printf '%s\n' "${rows[@]}"
echo
echo "total: $passed passed, $failed failed, in $(( SECONDS / 60 )) min $(( SECONDS % 60 )) s"
[ "$failed" -eq 0 ]
