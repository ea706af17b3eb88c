#!/usr/bin/env bash
# check-reproducible.sh SOURCE BUILD LIBRARY JAVA_HOME [CMAKE_ARGS...]
# Builds the library again from a copy of the sources in other directories
# and checks that it, and its debug file, come out byte for byte the same as
# this build's, and that neither names a directory of this machine.
# @SOURCE@ in CMAKE_ARGS stands for the copy (its toolchain file, say).
set -euo pipefail
src=$1 build=$2 lib=$3 java_home=$4
shift 4
work="$build/reproducible"
rm -rf "$work"
mkdir -p "$work/source"
# the tracked sources, as another clone would hold them
tar -C "$src" --exclude=./build --exclude=./.deps --exclude=./.git -cf - . | tar -C "$work/source" -xf -
args=()
for arg in "$@"; do args+=("${arg//@SOURCE@/$work/source}"); done
JAVA_HOME="$java_home" cmake -S "$work/source" -B "$work/build" -DPORTULA_TESTS=OFF "${args[@]}" >"$work/configure.log"
cmake --build "$work/build" --target portula -j"$(nproc)" >"$work/build.log"
again="$work/build/bridge/$(basename "$lib")"
status=0
for file in "$lib" "$lib.debug"; do
  twin="${again}${file#"$lib"}"
  if ! cmp "$file" "$twin"; then
    echo "check-reproducible: $file and $twin differ" >&2
    status=1
  fi
  for dir in "$src" "$build" "$work"; do
    if grep -qaF "$dir" "$file"; then
      echo "check-reproducible: $file names $dir" >&2
      status=1
    fi
  done
done
[ "$status" -eq 0 ] && echo "check-reproducible: $(basename "$lib") and its debug file are the same from $work/source"
exit "$status"
