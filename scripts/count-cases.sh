#!/usr/bin/env bash
# count-cases.sh PRESET LASTTEST_LOG: one line per ctest test with the cases
# that GoogleTest or the JUnit console reported in its output (a test that
# printed "skipped: WHY" and ran nothing is counted neither way), then a line
# "PRESET-total P F" for the caller to add up.
preset=$1 log=$2
awk -v preset="$preset" '
  /^[0-9]+\/[0-9]+ Test: / { name = $3; pass = 0; fail = 0; skip = 0; kind = "" }
  /^\[  PASSED  \] [0-9]+ test/ { pass += $4; kind = "GoogleTest" }
  /^\[  FAILED  \] [0-9]+ test/ { fail += $4; kind = "GoogleTest" }
  /^\[ +[0-9]+ tests successful/ { pass += $2; kind = "JUnit" }
  /^\[ +[0-9]+ tests failed/ { fail += $2; kind = "JUnit" }
  /^\[ +[0-9]+ tests skipped/ { skip += $2 }
  /^\[ +[0-9]+ tests aborted/ { skip += $2 }
  /^skipped: / { if (name != "") skipped[name] = substr($0, 10) }
  /^"[^"]+" end time:/ || /^<end of output>/ {
    if (name != "" && !(name in seen)) {
      seen[name] = 1
      status[name] = kind == "" ? "(no cases)" : sprintf("%s %d passed, %d failed, %d skipped", kind, pass, fail, skip)
      order[++n] = name; tp += pass; tf += fail
    }
  }
  /^Test Passed\./ { if (name != "") result[name] = "ok" }
  /^Test Failed\./ || /^Test Failed/ { if (name != "") result[name] = "FAILED" }
  END {
    for (i = 1; i <= n; i++) {
      nm = order[i]; r = (nm in result) ? result[nm] : "FAILED"
      if (nm in skipped && r == "ok" && status[nm] == "(no cases)") {
        printf "%-18s %-26s %-7s %s\n", preset, nm, "skipped", skipped[nm]
        continue
      }
      printf "%-18s %-26s %-7s %s\n", preset, nm, r, status[nm]
      # a check with no cases of its own counts as one
      if (status[nm] == "(no cases)") { if (r == "ok") tp++; else tf++ }
      else if (r != "ok" && status[nm] ~ / 0 failed/) tf++
    }
    printf "%s-total %d %d\n", preset, tp, tf
  }' "$log"
