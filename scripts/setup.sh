#!/usr/bin/env bash
# Installs everything the build, the tests, the demo, the 32-bit x86 build and
# the ARM builds need (Debian 12, as root or through sudo). Safe to run again:
# apt skips what is there. With --host, only what the 64-bit build, its demo
# and the benchmark need.
set -euo pipefail
HOST_ONLY=""
if [ "${1:-}" = "--host" ]; then HOST_ONLY=1; fi

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
# g++-12-multilib, not g++-multilib: that metapackage conflicts with every
# cross compiler (the ARM ones below), its versioned part with none.
I386_PKGS=(
  g++-12-multilib
  libhidapi-dev:i386 libudev-dev:i386
  libumockdev0:i386 libglib2.0-dev:i386
  libgtest-dev:i386
  openjdk-17-jdk-headless:i386
  qemu-user
)
# The ARM builds: Debian's cross compilers and the arm64 and armhf multiarch
# packages; their test JVMs always run under qemu-aarch64 / qemu-arm.
arm_pkgs() {  # architecture, cross compiler
  echo "$2" libhidapi-dev:"$1" libudev-dev:"$1" libumockdev0:"$1" libglib2.0-dev:"$1" \
    libgtest-dev:"$1" openjdk-17-jdk-headless:"$1"
}
read -r -a ARM64_PKGS <<<"$(arm_pkgs arm64 g++-aarch64-linux-gnu)"
read -r -a ARMHF_PKGS <<<"$(arm_pkgs armhf g++-arm-linux-gnueabihf)"
FOREIGN_ARCHS=(i386 arm64 armhf)

# A mirror in mid-sync fails some index files: try again, then go on with
# what came, since install says clearly if a package is still out of reach.
UPDATED=""
update() {
  local try
  UPDATED=1
  for try in 1 2 3; do
    $SUDO "${APT[@]}" update && return 0
    echo "setup: apt-get update failed (try $try of 3)" >&2
    [ "$try" -eq 3 ] || sleep $((try * 10))
  done
  return 0
}

# Each group on its own, so that one out of reach (a mirror without a
# foreign architecture's index) leaves the others installed.
FAILED=""
install_group() {  # name, packages...
  local name=$1 todo
  shift
  todo=$(missing "$@")
  [ -n "$todo" ] || return 0
  # shellcheck disable=SC2086
  $SUDO "${APT[@]}" install $todo && return 0
  # shellcheck disable=SC2086
  if [ -z "$UPDATED" ]; then update && $SUDO "${APT[@]}" install $todo && return 0; fi
  echo "setup: the $name packages could not be installed: $todo" >&2
  FAILED="$FAILED $name"
}

missing() {
  local p out=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || out+=("$p")
  done
  echo "${out[@]:-}"
}

if [ -n "$HOST_ONLY" ]; then
  if [ -n "$(missing "${HOST_PKGS[@]}")" ] && [ ! -f /var/lib/apt/lists/lock ]; then update; fi
  install_group host "${HOST_PKGS[@]}"
  [ -z "$FAILED" ] || exit 1
  echo "setup: the host's packages present"
  exit 0
fi

for arch in "${FOREIGN_ARCHS[@]}"; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $SUDO dpkg --add-architecture "$arch"
    NEED_UPDATE=1
  fi
  ls /var/lib/apt/lists/*"binary-${arch}_Packages"* >/dev/null 2>&1 || NEED_UPDATE=1
done

if [ -n "$(missing "${HOST_PKGS[@]}" "${FUZZ_PKGS[@]}" "${I386_PKGS[@]}" "${ARM64_PKGS[@]}" "${ARMHF_PKGS[@]}")" ]; then
  if [ -n "${NEED_UPDATE:-}" ] || [ ! -f /var/lib/apt/lists/lock ]; then
    update
  fi
fi
install_group host "${HOST_PKGS[@]}" "${FUZZ_PKGS[@]}"
install_group i386 "${I386_PKGS[@]}"
install_group arm64 "${ARM64_PKGS[@]}"
install_group armhf "${ARMHF_PKGS[@]}"
# umockdev's tools package (which holds its preload library) is not
# co-installable for two architectures: unpack each foreign one into
# .deps/<arch>/. The same holds for JNA's native part (i386 only).
DEPS_ROOT="$(cd "$(dirname "$0")/.." && pwd)/.deps"
unpack() {  # architecture, package, file it must provide
  local deps="$DEPS_ROOT/$1"
  if [ ! -f "$deps/$3" ]; then
    mkdir -p "$deps"
    local tmp
    tmp=$(mktemp -d)
    (cd "$tmp" && chmod 777 . && apt-get download -q "$2:$1" && dpkg-deb -x ./*_"$1".deb "$deps") ||
      FAILED="$FAILED $2:$1"
    rm -rf "$tmp"
  fi
}
unpack i386 umockdev usr/lib/i386-linux-gnu/libumockdev-preload.so.0
unpack i386 libjna-jni usr/lib/i386-linux-gnu/jni/libjnidispatch.system.so
unpack arm64 umockdev usr/lib/aarch64-linux-gnu/libumockdev-preload.so.0
unpack armhf umockdev usr/lib/arm-linux-gnueabihf/libumockdev-preload.so.0
if [ -n "$FAILED" ]; then
  echo "setup: missing:$FAILED (the builds that need them will fail)" >&2
  exit 1
fi
echo "setup: all packages present"
