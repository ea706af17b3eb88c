#!/usr/bin/env bash
# Benchmark: builds what it needs with the linux64 preset, then prints figures
# (nothing is asserted). Two JVMs without -Xcheck:jni:
#   bridge  the no-op build of libportula64.so: bridge vs bare JNI vs JNA, 10^6 calls
#   device  the real library: echo round trips Java vs C++, enumeration of 1,000 devices
#   descriptors  parsing and decoding reports (pure Java, against a hand-written floor)
# Installs what it needs first, as the demo and the tests do.
# BENCH_ENUMERATIONS (default 100) sets how many enumerations the heap check makes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --host > /dev/null
cmake --preset linux64 > /dev/null
cmake --build --preset linux64 -j"$(nproc)" --target portula_bench_java > /dev/null
# shellcheck disable=SC1091
. build/linux64/bench/bench.env
JNA_JNI=/usr/lib/x86_64-linux-gnu/jni
JVM=(-Xmx1g -XX:ActiveProcessorCount=2 -cp "$CLASSPATH")

echo "### $(date -u +%F) $(uname -m), $(nproc) cores, $(java -version 2>&1 | head -1)"
"$JAVA_EMULATED" "${JVM[@]}" -Djava.library.path="$NOOP_DIR:$FLOOR_DIR:$TESTBED_DIR:$JNA_JNI" \
  -Djna.boot.library.path="$JNA_JNI" com.orvanta.bench.Bench bridge "$NOOP_DIR/libportula64.so" \
  2> >(grep -v 'GLib-GIO-CRITICAL' >&2)
"$JAVA_EMULATED" "${JVM[@]}" -Djava.library.path="$REAL_DIR:$BENCH_DIR:$TESTBED_DIR" \
  -Dbench.enumerations="${BENCH_ENUMERATIONS:-100}" com.orvanta.bench.Bench device \
  2> >(grep -v 'GLib-GIO-CRITICAL' >&2)
"$JAVA_PLAIN" "${JVM[@]}" -Dbench.descriptors="$DESCRIPTORS" com.orvanta.bench.DescriptorBench
