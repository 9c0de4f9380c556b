#!/usr/bin/env bash
# Makes the one Wine prefix of a build folder, once: prepare_wine_prefix.sh <prefix>. Its
# first start takes a while; the first caller makes it, the others wait for that. Windows get
# Wine's null display driver: without it a machine with no X server (a build machine, CI)
# creates no window at all, and the listener's are how it is reached.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  if ! grep -q '^"Graphics"="null"' "$prefix/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # The desktop reads its driver when it starts: the running one must end first.
    wineserver -w || true
  fi
) 9>"$prefix.lock"
