#!/usr/bin/env bash
# Runs one Windows test program under Wine: run_under_wine.sh <prefix> <program> [args...].
# One Wine prefix serves a whole build folder (prepare_wine_prefix.sh).
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$(dirname "$0")/prepare_wine_prefix.sh" "$prefix"
# Wine prints \r\n; ctest and people read \n.
wine "$@" 2>&1 | tr -d '\r'
exit "${PIPESTATUS[0]}"
