#!/usr/bin/env bash
# cmake --install into the build tree, then builds packaging/example against
# the installed package and runs it on an emulated device.
#   install-example.sh BUILD PREFIX EXAMPLE_SRC EXAMPLE_BUILD HARNESS BITS PRELOAD
set -euo pipefail
build=$1 prefix=$2 src=$3 exbuild=$4 harness=$5 bits=$6 preload=$7
rm -rf "$prefix" "$exbuild"
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in "lib/libportula$bits.so" include/portula/CHIDDevice.h share/java/portula.jar \
         share/java/portula-javadoc.jar share/portula/70-portula.rules.in \
         lib/cmake/portula/portulaConfig.cmake lib/cmake/portula/portulaConfigVersion.cmake; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
cmake -S "$src" -B "$exbuild" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$exbuild" >/dev/null
# it must run on the installed copy, not on the build tree's
libs=$(ldd "$exbuild/portula_example")
grep -qF "=> $prefix/lib/libportula$bits.so" <<<"$libs" || {
  echo "$libs"; echo "the example does not use $prefix/lib"; exit 1; }
LD_PRELOAD="$preload" LC_ALL=C.UTF-8 "$harness" "$exbuild/portula_example"
