#!/usr/bin/env bash
# Runs one Windows test program under Wine: run_under_wine.sh <prefix> <program> [args...].
# One Wine prefix serves a whole build folder: its first start takes a while, later ones a
# second or two. The first test to get here makes it, the others wait for that.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
) 9>"$prefix.lock"
# Wine prints \r\n; ctest and people read \n.
wine "$@" 2>&1 | tr -d '\r'
exit "${PIPESTATUS[0]}"
