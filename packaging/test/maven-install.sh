#!/usr/bin/env bash
# Installs a portula.jar into a local Maven repository in the build tree (never
# ~/.m2), then builds and runs a project that takes it from there.
#   maven-install.sh JAR JAVADOC_JAR POM SETTINGS REPO VERSION CONSUMER_SRC WORK JAVA
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
"${mvn[@]}" -f "$work/pom.xml" -Dportula.version="$version" compile
# the library comes out of the jar in the repository: nothing on java.library.path
out=$("$java" -cp "$dir/portula-$version.jar:$work/target/classes" com.orvanta.consumer.Consumer)
echo "$out"
[[ $out == "consumer enumerated "* ]]
