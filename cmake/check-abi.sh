#!/usr/bin/env bash
# check-abi.sh LIB [READELF]
# What a shipped library asks of the system it loads on: glibc symbols of
# GLIBC_2.17 or older, libudev, and nothing of the C++ runtime (libstdc++,
# libgcc_s: linked in). Fails, naming each, on any other NEEDED entry or
# symbol version.
set -euo pipefail
lib=$1 readelf=${2:-readelf}
oldest=2.17
fail=0

needed=$(LC_ALL=C "$readelf" -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for entry in $needed; do
  case "$entry" in
    libc.so.6|libm.so.6|libdl.so.2|libpthread.so.0|librt.so.1|ld-linux*.so.*|libudev.so.1) ;;
    *) echo "check-abi: $lib needs $entry" >&2; fail=1 ;;
  esac
done

# "File: libc.so.6" lines, each followed by the versions taken from that file
versions=$(LC_ALL=C "$readelf" -V "$lib" | awk '
  /\.gnu\.version_r/ { needs = 1; next }
  /\.gnu\.version/ { needs = 0 }
  needs && /File:/ { for (i = 1; i <= NF; i++) if ($i == "File:") file = $(i + 1) }
  needs && /Name:/ { for (i = 1; i <= NF; i++) if ($i == "Name:") print file, $(i + 1) }')
newest=0
while read -r file version; do
  [ -n "$version" ] || continue
  case "$version" in
    GLIBC_[0-9]*)
      number=${version#GLIBC_}
      if [ "$(printf '%s\n%s\n' "$oldest" "$number" | sort -V | tail -1)" != "$oldest" ]; then
        echo "check-abi: $lib needs $version (from $file), newer than GLIBC_$oldest" >&2
        fail=1
      fi
      newest=$(printf '%s\n%s\n' "$newest" "$number" | sort -V | tail -1) ;;
    LIBUDEV_*) ;;
    *) echo "check-abi: $lib needs $version (from $file)" >&2; fail=1 ;;
  esac
done <<<"$versions"
[ "$fail" -eq 0 ] || exit 1
echo "check-abi: $(basename "$lib") needs $(echo $needed) and nothing newer than GLIBC_$newest"
