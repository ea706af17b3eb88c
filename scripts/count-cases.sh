#!/usr/bin/env bash
# Adds up the test cases that GoogleTest and the JUnit console report in a ctest log.
log=$1
gt_pass=$(grep -hoE '^\[  PASSED  \] [0-9]+' "$log" | awk '{s+=$4} END{print s+0}')
gt_fail=$(grep -hoE '^\[  FAILED  \] [0-9]+ tests?' "$log" | awk '{s+=$4} END{print s+0}')
ju_pass=$(grep -hoE '\[ *[0-9]+ tests successful *\]' "$log" | grep -oE '[0-9]+' | awk '{s+=$1} END{print s+0}')
ju_fail=$(grep -hoE '\[ *[0-9]+ tests failed *\]' "$log" | grep -oE '[0-9]+' | awk '{s+=$1} END{print s+0}')
ju_skip=$(grep -hoE '\[ *[0-9]+ tests skipped *\]' "$log" | grep -oE '[0-9]+' | awk '{s+=$1} END{print s+0}')
echo "cases: GoogleTest $gt_pass passed, $gt_fail failed; JUnit $ju_pass passed, $ju_fail failed, $ju_skip skipped"
