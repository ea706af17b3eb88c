#!/usr/bin/env bash
# Installs what is needed, builds the 64-bit library and runs the demo on an
# emulated echo device. scripts/demo.sh --real [VID:PID] uses the machine's
# own HID devices instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --host >/dev/null
cmake --preset linux64 >/dev/null
cmake --build --preset linux64 -j"$(nproc)" --target portula portula_demo portula_testbed_jni >/dev/null
B=build/linux64
CP="$B/java/portula.jar:$B/testbed/portula-testbed.jar:$B/java/portula-demo.jar"
LIBS="-Djava.library.path=$B/bridge:$B/testbed"
if [ "${1:-}" = "--real" ]; then
  exec "$B/bin/java-plain" "$LIBS" -cp "$CP" com.orvanta.demo.Demo "$@"
fi
exec "$B/bin/java-emulated" "$LIBS" -cp "$CP" com.orvanta.demo.Demo "$@"
