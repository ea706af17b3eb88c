#!/usr/bin/env bash
# Builds and tests an example project (examples/scale) as its users would:
# portula and the test kit installed into a local Maven repository in the
# build tree (never ~/.m2), PORTULA_PRELOAD from the kit's env command,
# Surefire on the build's JDK, and again with Maven on the newest JDK (24 or
# later) where one is given, whose profile grants native access.
#   test-example.sh EXAMPLE WORK PORTULA_JAR PORTULA_POM KIT_JAR KIT_POM SETTINGS JDK [NEWEST_JDK]
set -euo pipefail
example=$1 work=$2 jar=$3 pom=$4 kit=$5 kit_pom=$6 settings=$7 jdk=$8 newest=${9:-}
repo=$work/repo
mkdir -p "$work"
mvn=(mvn -B -q -s "$settings" -Dmaven.repo.local="$repo")
rm -rf "$repo/com/orvanta" "$work/project" "$work/cache"
export JAVA_HOME=$jdk
"${mvn[@]}" install:install-file -Dfile="$jar" -DpomFile="$pom"
"${mvn[@]}" install:install-file -Dfile="$kit" -DpomFile="$kit_pom"
cp -r "$example" "$work/project"
XDG_CACHE_HOME=$work/cache
export XDG_CACHE_HOME
PORTULA_PRELOAD=$("$jdk/bin/java" -jar "$kit" env)
export PORTULA_PRELOAD
surefire() {  # JAVA_HOME for Maven and its tests
  local out
  rm -rf "$work/project/target/surefire-reports"
  out=$(JAVA_HOME=$1 "${mvn[@]}" -f "$work/project/pom.xml" test 2>&1) || { echo "$out"; return 1; }
  echo "$out"
  cat "$work"/project/target/surefire-reports/*.txt
  grep -q "Tests run: 5, Failures: 0, Errors: 0, Skipped: 0" "$work"/project/target/surefire-reports/*.txt
  # the test JVM's warnings bypass System.err: Surefire keeps them in a .dumpstream
  ! grep -rq "WARNING" "$work/project/target/surefire-reports"
}
surefire "$jdk"
if [ -n "$newest" ]; then surefire "$newest"; fi
