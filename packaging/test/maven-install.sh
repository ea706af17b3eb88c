#!/usr/bin/env bash
# Installs a portula.jar into a local Maven repository in the build tree (never
# ~/.m2), then builds, tests (Surefire) and runs a project that takes it from
# there; with NEWEST_JDK (24 or later) its tests run again with Maven on that
# JDK, where the project's profile grants native access.
#   maven-install.sh JAR JAVADOC_JAR POM SETTINGS REPO VERSION CONSUMER_SRC WORK JAVA [NEWEST_JDK]
set -euo pipefail
jar=$1 javadoc=$2 pom=$3 settings=$4 repo=$5 version=$6 consumer=$7 work=$8 java=$9
[ -f "$jar" ] || { echo "no $jar"; exit 1; }
mvn=(mvn -B -q -s "$settings" -Dmaven.repo.local="$repo")
rm -rf "$repo/com/orvanta" "$work"
"${mvn[@]}" install:install-file -Dfile="$jar" -Djavadoc="$javadoc" -DpomFile="$pom"
dir="$repo/com/orvanta/portula/$version"
# the pom's version must be the project's: a stale one installs elsewhere
cmp "$jar" "$dir/portula-$version.jar"
cmp "$javadoc" "$dir/portula-$version-javadoc.jar"
cmp "$pom" "$dir/portula-$version.pom"
cp -r "$consumer" "$work"
# Surefire; it must have run the test. First with Maven and the test JVM on
# the build's JDK (its wrapper: a sanitized library needs its runtime first)
surefire() {  # JAVA_HOME for Maven (empty: Maven's default), Maven's arguments...
  local home=$1 out
  shift
  rm -rf "$work/target/surefire-reports"
  out=$(JAVA_HOME=${home:-${JAVA_HOME:-}} "${mvn[@]}" -f "$work/pom.xml" -Dportula.version="$version" "$@" test 2>&1) ||
    { echo "$out"; return 1; }
  echo "$out"
  grep -q "Tests run: 1, Failures: 0, Errors: 0, Skipped: 0" "$work"/target/surefire-reports/*.txt || return 1
  # the test JVM's warnings bypass System.err: Surefire keeps them in a .dumpstream
  ! grep -rq "WARNING: A restricted method" "$work/target/surefire-reports"
}
surefire "" -Djvm="$java"
if [ -n "${10:-}" ]; then surefire "${10}"; fi
# the library comes out of the jar in the repository: nothing on java.library.path
out=$("$java" -cp "$dir/portula-$version.jar:$work/target/classes" com.orvanta.consumer.Consumer)
echo "$out"
[[ $out == "consumer enumerated "* ]]
