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
  usb.ids
  libjna-java libjna-jni
  maven maven-debian-helper libmaven-install-plugin-java libmaven-compiler-plugin-java
  libmaven-resources-plugin-java libmaven-jar-plugin-java libsurefire-java junit4
  locales libc-l10n
)
# The fuzz step: clang's libFuzzer and llvm-cov; dpkg-dev unpacks hidapi's
# source package, which scripts/fuzz.sh builds with the fuzzer's instrumentation.
FUZZ_PKGS=(clang-14 libclang-rt-14-dev llvm-14 dpkg-dev)
# Each foreign platform in two groups: what builds its library, and what runs
# its tests (the emulator's libraries and the JVM, under qemu where the kernel
# cannot run that code).
# g++-12-multilib, not g++-multilib: that metapackage conflicts with every
# cross compiler (the ARM ones below), its versioned part with none.
I386_PKGS=(g++-12-multilib qemu-user libhidapi-dev:i386 libudev-dev:i386 libgtest-dev:i386)
# The ARM builds: Debian's cross compilers and the arm64 and armhf multiarch
# packages; their test JVMs always run under qemu-aarch64 / qemu-arm.
read -r -a ARM64_PKGS <<<"g++-aarch64-linux-gnu qemu-user libhidapi-dev:arm64 libudev-dev:arm64 libgtest-dev:arm64"
read -r -a ARMHF_PKGS <<<"g++-arm-linux-gnueabihf qemu-user libhidapi-dev:armhf libudev-dev:armhf libgtest-dev:armhf"
# The tests run only the foreign java: javac and jni.h are the amd64 JDK's.
TESTS_PKGS=(libumockdev0 libglib2.0-dev openjdk-17-jre-headless)
tests_pkgs() {  # architecture
  printf '%s:'"$1"' ' "${TESTS_PKGS[@]}"
}
FOREIGN_ARCHS=(i386 arm64 armhf)

# A mirror in mid-sync fails some index files: try again, then go on with
# what came, since install says clearly if a package is still out of reach.
# apt's output is kept: it tells which architecture's index failed.
UPDATED=""
UPDATE_LOG=$(mktemp)
trap 'rm -f "$UPDATE_LOG"' EXIT
update() {
  local try
  UPDATED=1
  for try in 1 2 3; do
    $SUDO "${APT[@]}" update 2>&1 | tee "$UPDATE_LOG" && return 0
    echo "setup: apt-get update failed (try $try of 3)" >&2
    [ "$try" -eq 3 ] || sleep $((try * 10))
  done
  return 0
}

# Each group on its own, so that one out of reach (a mirror without a
# foreign architecture's index) leaves the others installed.
DEPS_ROOT="$(cd "$(dirname "$0")/.." && pwd)/.deps"
FAILED=""
install_group() {  # name, architecture (or ""), packages...
  local name=$1 arch=$2 todo
  shift 2
  todo=$(missing "$@")
  [ -n "$todo" ] || return 0
  # shellcheck disable=SC2086
  $SUDO "${APT[@]}" install $todo && return 0
  # shellcheck disable=SC2086
  if [ -z "$UPDATED" ]; then update && $SUDO "${APT[@]}" install $todo && return 0; fi
  [ -z "${NO_RECORD:-}" ] || return 1
  record_failure "$name" "$arch" "$todo"
}
record_failure() {  # group, architecture (or ""), what is missing
  if [ -n "$2" ] && grep -q "Failed to fetch .*/binary-$2/Packages" "$UPDATE_LOG"; then
    echo "setup: the $1 packages could not be installed, as apt could not fetch the $2 package index: $3" >&2
  else
    echo "setup: the $1 packages could not be installed: $3" >&2
  fi
  FAILED="$FAILED $1"
}

missing() {
  local p out=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || out+=("$p")
  done
  echo "${out[@]:-}"
}

# The tests run child JVMs in a German locale: glibc's messages (libc-l10n)
# and the locale itself.
german_locale() {
  locale -a 2>/dev/null | grep -qx 'de_DE.utf8' && return 0
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 || record_failure locales "" "the de_DE.UTF-8 locale (localedef)"
}

if [ -n "$HOST_ONLY" ]; then
  if [ -n "$(missing "${HOST_PKGS[@]}")" ] && [ ! -f /var/lib/apt/lists/lock ]; then update; fi
  install_group host "" "${HOST_PKGS[@]}"
  [ -z "$FAILED" ] || exit 1
  german_locale
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

# A platform's JVM, GLib and umockdev are multiarch twins of the amd64 ones,
# installable only at their versions. Where the two archives are out of step
# (one built or mirrored later), set-up unpacks them with what they need into
# .deps/<arch>/root instead, as apt resolves them for a machine of that
# architecture alone: the tests then run with that root's libraries.
has_root() { [ "$(cat "$DEPS_ROOT/$1/root/.complete" 2>/dev/null)" = "${TESTS_PKGS[*]}" ]; }
ALL_TESTS_PKGS=()
for arch in "${FOREIGN_ARCHS[@]}"; do
  # shellcheck disable=SC2207
  has_root "$arch" || ALL_TESTS_PKGS+=($(tests_pkgs "$arch"))
done
if [ -n "$(missing "${HOST_PKGS[@]}" "${FUZZ_PKGS[@]}" "${I386_PKGS[@]}" "${ARM64_PKGS[@]}" "${ARMHF_PKGS[@]}" "${ALL_TESTS_PKGS[@]}")" ]; then
  if [ -n "${NEED_UPDATE:-}" ] || [ ! -f /var/lib/apt/lists/lock ]; then
    update
  fi
fi
install_group host "" "${HOST_PKGS[@]}" "${FUZZ_PKGS[@]}"
install_group i386 i386 "${I386_PKGS[@]}"
install_group arm64 arm64 "${ARM64_PKGS[@]}"
install_group armhf armhf "${ARMHF_PKGS[@]}"
german_locale
unpack_root() {  # architecture
  local root="$DEPS_ROOT/$1/root" tmp deb
  echo "setup: unpacking the $1 JVM, GLib and umockdev into $root"
  tmp=$(mktemp -d)
  mkdir -p "$tmp/archives/partial" && touch "$tmp/status" && chmod -R 777 "$tmp"
  rm -rf "$root" && mkdir -p "$root"
  apt-get -q -y --no-install-recommends -o APT::Architecture="$1" -o APT::Architectures::="$1" \
    -o Dir::State::status="$tmp/status" -o Dir::Cache::archives="$tmp/archives" \
    -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o Debug::NoLocking=1 \
    install --download-only "${TESTS_PKGS[@]}" >"$tmp/log" 2>&1 || { cat "$tmp/log" >&2; rm -rf "$tmp"; return 1; }
  # what is installed for that architecture already (libc, libudev) stays out,
  # so that no library is found in two places
  for deb in "$tmp"/archives/*.deb; do
    [ -z "$(missing "$(dpkg-deb -f "$deb" Package):$1")" ] && continue
    dpkg-deb -x "$deb" "$root" || { rm -rf "$tmp"; return 1; }
  done
  rm -rf "$tmp"
  echo "${TESTS_PKGS[*]}" >"$root/.complete"
}
for arch in "${FOREIGN_ARCHS[@]}"; do
  has_root "$arch" && continue
  # shellcheck disable=SC2046
  NO_RECORD=1 install_group "$arch-tests" "$arch" $(tests_pkgs "$arch") || unpack_root "$arch" ||
    record_failure "$arch-tests" "$arch" "$(missing $(tests_pkgs "$arch"))"
done
# umockdev's tools package (which holds its preload library) is not
# co-installable for two architectures: unpack each foreign one into
# .deps/<arch>/. The same holds for JNA's native part (i386 only).
unpack() {  # architecture, package, file it must provide
  local deps="$DEPS_ROOT/$1"
  if [ ! -f "$deps/$3" ]; then
    mkdir -p "$deps"
    local tmp
    tmp=$(mktemp -d)
    (cd "$tmp" && chmod 777 . && apt-get download -q "$2:$1" && dpkg-deb -x ./*_"$1".deb "$deps") ||
      record_failure "$1-tests" "$1" "$2:$1"
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
