#!/usr/bin/env bash
# check-exports.sh LIB JNI_HEADER_DIR HIDAPI_HEADER [NM]
# The dynamic export table must hold every native method of the generated JNI
# headers, CHIDDevice, _throwHIDExpcetion and hidapi's API, and nothing else.
set -euo pipefail
lib=$1 jni_headers=$2 hidapi_header=$3 nm=${4:-nm}

table=$("$nm" -D --defined-only "$lib" | awk '{print $3}' | sort)
jni=$(cat "$jni_headers"/com_orvanta_jni_*.h | grep -oE '^JNIEXPORT .*' -A1 | grep -oE 'Java_[A-Za-z0-9_]+' | sort -u)
hid=$(grep -oE 'HID_API_[A-Z_]*CALL hid_[a-z_]+\(' "$hidapi_header" | grep -oE 'hid_[a-z_]+' | sort -u)
allowed=$(printf "%s\n%s\n" "$jni" "$hid")
fail=0

while read -r sym; do
  [ -n "$sym" ] || continue
  if grep -qxF "$sym" <<<"$allowed"; then continue; fi
  demangled=$(c++filt "$sym")
  case "$demangled" in
    CHIDDevice::*|"_throwHIDExpcetion("*) continue ;;
  esac
  echo "check-exports: $lib exports what it does not promise: $demangled" >&2
  fail=1
done <<<"$table"

want=$(printf '%s\n' $jni hid_init hid_exit hid_enumerate hid_free_enumeration hid_open \
  hid_open_path hid_write hid_read_timeout hid_read hid_set_nonblocking hid_send_feature_report \
  hid_get_feature_report hid_close hid_get_manufacturer_string hid_get_product_string \
  hid_get_serial_number_string hid_get_indexed_string hid_error)
for sym in $want; do
  grep -qxF "$sym" <<<"$table" || { echo "check-exports: $lib does not export $sym" >&2; fail=1; }
done
demangled_table=$(c++filt <<<"$table")
for member in 'CHIDDevice::ref_counter' 'CHIDDevice::CHIDDevice()' 'CHIDDevice::~CHIDDevice()' \
    'CHIDDevice::open_device(int, int)' 'CHIDDevice::open_device(char const*)' \
    'CHIDDevice::close_device()' 'CHIDDevice::write(unsigned char const*, unsigned (int|long))' \
    'CHIDDevice::read(unsigned char*, unsigned (int|long))' 'CHIDDevice::getRefCount()' \
    'CHIDDevice::enumerate_devices(int, int)' 'CHIDDevice::free_enumerations(hid_device_info*)' \
    '_throwHIDExpcetion(JNIEnv_*, char const*, char const*, int, char const*)'; do
  pattern=$(sed -e 's/[()*]/\\&/g' -e 's/\\(int|long\\)/(int|long)/' <<<"$member")
  grep -qxE "$pattern" <<<"$demangled_table" || { echo "check-exports: $lib does not export $member" >&2; fail=1; }
done
if grep -qxF Java_com_orvanta_jni_HIDClassConnector__1hid_1open <<<"$table"; then
  echo "check-exports: $lib exports the short _hid_open name, which would bind both overloads" >&2
  fail=1
fi
[ "$fail" -eq 0 ] || exit 1
echo "check-exports: $(wc -l <<<"$table") symbols in $(basename "$lib"), $(wc -w <<<"$jni") native methods; all promised, none missing"
