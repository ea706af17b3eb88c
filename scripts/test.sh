#!/usr/bin/env bash
# Installs what is needed, builds both deliverables and runs every test:
#   linux64           C++ tests, JUnit suite (-Xcheck:jni) and export table, 64-bit
#   linux64-sanitize  the same with AddressSanitizer + UndefinedBehaviorSanitizer
#   linux32           C++ tests and JUnit suite in the i386 JVM (qemu-i386 -Xint here)
# PORTULA_PRESETS="linux64 linux32" picks a subset.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1

presets=${PORTULA_PRESETS:-"linux64 linux64-sanitize linux32"}
summary=()
total_pass=0
total_fail=0
mkdir -p build/logs
for p in $presets; do
  echo "=== $p: configure and build"
  if ! { cmake --preset "$p" && cmake --build --preset "$p" -j"$(nproc)"; } > "build/logs/$p-build.log" 2>&1; then
    tail -40 "build/logs/$p-build.log"
    summary+=("$p: build FAILED (build/logs/$p-build.log)")
    total_fail=$((total_fail + 1))
    continue
  fi
  echo "=== $p: tests"
  ctest --preset "$p" --output-junit "$PWD/build/logs/$p-ctest.xml" 2>&1 | tee "build/logs/$p-ctest.log"
  # per suite: the JUnit console's and GoogleTest's own counts
  while read -r name; do
    [ -n "$name" ] || continue
    log="build/$p/Testing/Temporary/LastTest.log"
    summary+=("$p: $name")
  done < <(grep -E '^ *[0-9]+/[0-9]+ Test +#' "build/logs/$p-ctest.log" | sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: //; s/ +\.+ */ /; s/ +[0-9.]+ sec$//')
  pass=$(grep -cE 'Test +#[0-9]+: .* Passed' "build/logs/$p-ctest.log")
  fail=$(grep -cE 'Test +#[0-9]+: .* (\*\*\*|Failed|Not Run|Timeout)' "build/logs/$p-ctest.log")
  cases=$(scripts/count-cases.sh "build/$p/Testing/Temporary/LastTest.log")
  summary+=("$p: $cases")
  total_pass=$((total_pass + pass))
  total_fail=$((total_fail + fail))
done

echo
echo "=== summary (build: suite)"
printf '%s\n' "${summary[@]}"
echo "suites: $total_pass passed, $total_fail failed"
[ "$total_fail" -eq 0 ]
