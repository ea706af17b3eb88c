#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the 32-bit build need
# (Debian 12, as root or through sudo). Safe to run again: apt skips what is there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
APT=(env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=900 --no-install-recommends)

HOST_PKGS=(
  build-essential cmake pkg-config g++ binutils
  openjdk-17-jdk-headless
  libhidapi-dev libudev-dev
  libgtest-dev googletest
  umockdev libumockdev-dev libumockdev0 libglib2.0-dev
  junit5 valgrind
  libjna-java libjna-jni
  maven maven-debian-helper libmaven-install-plugin-java libmaven-compiler-plugin-java
  libmaven-resources-plugin-java libmaven-jar-plugin-java
)
# The fuzz step: clang's libFuzzer and llvm-cov; dpkg-dev unpacks hidapi's
# source package, which scripts/fuzz.sh builds with the fuzzer's instrumentation.
FUZZ_PKGS=(clang-14 libclang-rt-14-dev llvm-14 dpkg-dev)
# The 32-bit build and its test JVM, run under qemu where the kernel cannot run i386 code.
I386_PKGS=(
  g++-multilib
  libhidapi-dev:i386 libudev-dev:i386
  libumockdev0:i386 libglib2.0-dev:i386
  libgtest-dev:i386
  openjdk-17-jdk-headless:i386
  qemu-user
)

missing() {
  local p out=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || out+=("$p")
  done
  echo "${out[@]:-}"
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  NEED_UPDATE=1
fi

todo=$(missing "${HOST_PKGS[@]}" "${FUZZ_PKGS[@]}" "${I386_PKGS[@]}")
if [ -n "$todo" ]; then
  if [ -n "${NEED_UPDATE:-}" ] || [ ! -f /var/lib/apt/lists/lock ] || \
     ! ls /var/lib/apt/lists/*i386_Packages* >/dev/null 2>&1; then
    $SUDO "${APT[@]}" update
  fi
  # shellcheck disable=SC2086
  $SUDO "${APT[@]}" install $todo || { $SUDO "${APT[@]}" update && $SUDO "${APT[@]}" install $todo; }
fi
# umockdev's tools package (which holds its preload library) is not
# co-installable for two architectures: unpack the i386 one into .deps/.
DEPS="$(cd "$(dirname "$0")/.." && pwd)/.deps/i386"
# The same holds for JNA's native part, which the tests use.
unpack_i386() {  # package, file it must provide
  if [ ! -f "$DEPS/$2" ]; then
    mkdir -p "$DEPS"
    local tmp
    tmp=$(mktemp -d)
    (cd "$tmp" && chmod 777 . && apt-get download -q "$1:i386" && dpkg-deb -x ./*_i386.deb "$DEPS")
    rm -rf "$tmp"
  fi
}
unpack_i386 umockdev usr/lib/i386-linux-gnu/libumockdev-preload.so.0
unpack_i386 libjna-jni usr/lib/i386-linux-gnu/jni/libjnidispatch.system.so
echo "setup: all packages present"
