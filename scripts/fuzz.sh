#!/usr/bin/env bash
# The hostile-device fuzzer (fuzz/), on the 64-bit host build only: it runs
# nothing foreign, so nothing here ever goes through qemu.
#   scripts/fuzz.sh run SECONDS [libFuzzer options]   ASan/UBSan fuzzing from fuzz/corpus;
#                                                     new inputs go to build/fuzz/corpus
#   scripts/fuzz.sh coverage [CORPUS...]              llvm-cov line coverage over the corpus
#   scripts/fuzz.sh build                             both builds, nothing run
# hidapi is built from Debian's source package of the installed version,
# fetched with apt (a deb-src list of this script's own, made from the
# machine's apt sources); the shipped library keeps Debian's binary archive.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mode=${1:-run}
shift || true

src=build/fuzz-src
fetch_hidapi() {
  local version dir
  version=$(dpkg-query -W -f='${source:Version}\n' libhidapi-dev:amd64 | head -1)
  dir="$src/hidapi-$version"
  if [ ! -f "$dir/linux/hid.c" ]; then
    rm -rf "$src" && mkdir -p "$src/lists/partial" "$src/parts" "$src/get"
    # the machine's own archives, as source lists
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$src/parts/$(basename "$f")"
    done
    if [ -f /etc/apt/sources.list ]; then
      sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"$src/parts/sources.list"
    fi
    local apt=(apt-get -q -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$root/$src/parts"
               -o "Dir::State::Lists=$root/$src/lists" -o "Debug::NoLocking=1")
    "${apt[@]}" update >"$src/apt.log" 2>&1 || { cat "$src/apt.log"; exit 1; }
    chmod 777 "$src/get"   # apt's download user must write there
    (cd "$src/get" && "${apt[@]}" source "hidapi=$version") >>"$src/apt.log" 2>&1 || { cat "$src/apt.log"; exit 1; }
    mv "$src/get"/hidapi-*/ "$dir"
  fi
  echo "$root/$dir"
}

build() {  # tree, extra cmake options
  local tree=$1
  shift
  cmake -S fuzz -B "$tree" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
        -DHIDAPI_SOURCE_DIR="$hidapi" "$@" >"$tree.log" 2>&1 &&
    cmake --build "$tree" -j"$(nproc)" >>"$tree.log" 2>&1 || { tail -40 "$tree.log"; exit 1; }
}

preload() {  # the emulator's, as every emulated test has it
  echo "$root/$1/libtestbed_fstat.so /usr/lib/x86_64-linux-gnu/libumockdev-preload.so.0"
}

hidapi=$(fetch_hidapi)
mkdir -p build
case "$mode" in
  build)
    build build/fuzz
    build build/fuzz-coverage -DPORTULA_FUZZ_COVERAGE=ON
    ;;
  run)
    seconds=${1:-120}
    shift || true
    build build/fuzz
    mkdir -p build/fuzz/corpus build/fuzz/crashes
    cp -n fuzz/corpus/* build/fuzz/corpus/
    # leaks are checked: hidapi's own would show here
    LD_PRELOAD="$(preload build/fuzz)" TMPDIR=/tmp \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      build/fuzz/fuzz_device -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
        -max_len=12000 -print_final_stats=1 -artifact_prefix=build/fuzz/crashes/ "$@" \
        build/fuzz/corpus fuzz/regressions
    ;;
  coverage)
    build build/fuzz-coverage -DPORTULA_FUZZ_COVERAGE=ON
    dirs=("$@")
    [ ${#dirs[@]} -gt 0 ] || dirs=(fuzz/corpus fuzz/regressions)
    rm -rf build/fuzz-coverage/profiles && mkdir -p build/fuzz-coverage/profiles
    LD_PRELOAD="$(preload build/fuzz-coverage)" TMPDIR=/tmp \
    LLVM_PROFILE_FILE="$root/build/fuzz-coverage/profiles/%p.profraw" \
      build/fuzz-coverage/fuzz_device -runs=0 "${dirs[@]}" >build/fuzz-coverage/replay.log 2>&1 ||
      { tail -20 build/fuzz-coverage/replay.log; exit 1; }
    grep '^fuzz-counters:' build/fuzz-coverage/replay.log || true
    llvm-profdata-14 merge -sparse build/fuzz-coverage/profiles/*.profraw -o build/fuzz-coverage/all.profdata
    llvm-cov-14 report build/fuzz-coverage/fuzz_device -instr-profile=build/fuzz-coverage/all.profdata \
      "$hidapi/linux/hid.c" device/CHIDDevice.cpp bridge/utf16.h | tee build/fuzz-coverage/report.txt
    ;;
  *)
    echo "usage: scripts/fuzz.sh run SECONDS [libFuzzer options] | coverage [CORPUS...] | build" >&2
    exit 2
    ;;
esac
