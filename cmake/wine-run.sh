#!/bin/sh
# wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
#
# Runs a Windows program under Wine (Debian's wine64) in the Wine prefix PREFIX: the emulator the
# windows preset's tests run with. The prefix is made on first use, without any dialogue, under
# a lock so that programs started together make it once.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix.ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix.ready" ]; then
      echo "wine-run: making the Wine prefix $prefix" >&2
      /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
      /usr/lib/wine/wineserver -w  # until the registry is saved
      touch "$prefix.ready"
    fi
  ) 9>"$prefix.lock"
fi
exec /usr/lib/wine/wine64 "$@"
