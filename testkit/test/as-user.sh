#!/bin/sh
# Runs JAVA as the kit's users start it: LD_PRELOAD is what the kit's env
# command prints (its cache directory in the build tree), after EXTRA.
#   as-user.sh JAVA KIT_JAR CACHE_DIR EXTRA ARGS...
set -eu
java=$1 kit=$2 cache=$3 extra=$4
shift 4
export XDG_CACHE_HOME="$cache"
preload=$("$java" -jar "$kit" env)
exec env LD_PRELOAD="$extra $preload" "$java" "$@"
