#!/usr/bin/env bash
# Runs one Windows test program under Wine: run_under_wine.sh <prefix> <program> [args...].
# One Wine prefix serves a whole build folder (prepare_wine_prefix.sh).
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's own messages are off: a failure says at least which step failed, and how.
if ! "$(dirname "$0")/prepare_wine_prefix.sh" "$prefix"; then
  echo "run_under_wine: preparing the Wine prefix $prefix failed" >&2
  exit 1
fi
# Wine prints \r\n; ctest and people read \n.
set +e
wine "$@" 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || echo "run_under_wine: $1 ended with exit status $status" >&2
exit "$status"
