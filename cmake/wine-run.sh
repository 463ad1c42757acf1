#!/bin/sh
# wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
#
# Runs a Windows program under Wine (Debian's wine64) in the Wine prefix PREFIX: the emulator the
# windows preset's tests run with. The prefix is made on first use, without any dialogue, under
# a lock so that programs started together make it once.
#
# Wine's server normally exits 3 s after its last program, and a program that connects as it
# exits fails at once ("recvmsg: Connection reset by peer"). Tests start one after another, so the
# server is started here to stay for a minute after the last program, and Wine's own background
# programs with it: started by a test, they would hold its output open, and ctest wait on them,
# for as long as the server stays (and they must not hold the lock either). A server already
# running makes this a no-op.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix.ready" ]; then
    echo "wine-run: making the Wine prefix $prefix" >&2
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
    /usr/lib/wine/wineserver -w  # until the registry is saved
    touch "$prefix.ready"
  fi
  if /usr/lib/wine/wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
    /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 9>&-  # without the lock
  fi
) 9>"$prefix.lock"
exec /usr/lib/wine/wine64 "$@"
