#!/bin/sh
# refuse-native-foreign.sh COMMAND [ARG...]
#
# Runs COMMAND where the kernel will not run i386, arm or aarch64 programs by
# itself, as on a kernel without i386 support: every such exec fails, naming
# the program. Under qemu-user nothing foreign may start except through qemu
# (not the JVM's spawn helper, a child JVM or a test binary), and a kernel
# that runs i386 code would otherwise hide such a start.
#
# It registers this script as the binfmt_misc interpreter of those programs
# in a user namespace of its own (Linux 6.7 and later), with uids and gids
# 0..65535 mapped to themselves so that setpriv can still switch users. Where
# that cannot be had, COMMAND runs unguarded and a line says so.
set -eu

foreign_machine() {  # the ELF machine of file $1 if it is foreign here, else nothing
  header=$(od -An -tx1 -N20 "$1" 2>/dev/null | tr -d ' \n') || return 0
  case "$header" in
    7f454c46010101*0300) echo i386 ;;
    7f454c46010101*2800) echo arm ;;
    7f454c46020101*b700) echo aarch64 ;;
  esac
}

# Called by the kernel as the interpreter of a foreign program.
if [ -n "${PORTULA_FOREIGN_REFUSED:-}" ] && [ -f "${1:-}" ] && [ -n "$(foreign_machine "$1")" ]; then
  echo "refuse-native-foreign: $1 ($(foreign_machine "$1")) may only run through qemu" >&2
  exit 126
fi
if [ -n "${PORTULA_FOREIGN_REFUSED:-}" ]; then
  exec "$@"   # already guarded
fi
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

if ! unshare --user --map-root-user --mount \
     sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>/dev/null; then
  echo "refuse-native-foreign: no binfmt_misc in a user namespace here; $1 runs unguarded" >&2
  exec "$@"
fi

sync=$(mktemp -d)
mkfifo "$sync/ready" "$sync/mapped"
pid=$$
# From outside the new namespace (only there may more than one id be mapped):
# wait until the process below has entered it, map its ids, let it go on.
(
  read -r _ < "$sync/ready"
  echo "0 0 65536" > "/proc/$pid/uid_map"
  echo "0 0 65536" > "/proc/$pid/gid_map"
  echo go > "$sync/mapped"
  rm -rf "$sync"
) &
# exec keeps this pid, so whoever started COMMAND can still signal it
export PORTULA_FOREIGN_REFUSED=1
exec unshare --user --mount sh -c '
  sync=$1 self=$2
  shift 2
  echo ready > "$sync/ready"
  read -r _ < "$sync/mapped"
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  for entry in \
      "i386:\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff" \
      "arm:\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff" \
      "aarch64:\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff"; do
    name=${entry%%:*}
    printf ":portula-%s:M::%s:%s:\n" "$name" "${entry#*:}" "$self" > /proc/sys/fs/binfmt_misc/register
  done
  exec "$@"' sh "$sync" "$self" "$@"
