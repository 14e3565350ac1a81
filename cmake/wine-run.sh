#!/usr/bin/env bash
# Runs a Windows program under wine64: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# The Wine prefix PREFIX is created on first use; the exit status is the program's.
set -euo pipefail

export WINEPREFIX=$1
shift
export WINEDEBUG=-all
# No display and no one to answer: never offer to install Mono or Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=${PSRL_WINE64:-/usr/lib/wine/wine64}
wineserver=${PSRL_WINESERVER:-/usr/lib/wine/wineserver}

# Programs started at once (test discovery, parallel tests) would each try to create the
# prefix; the first creates it under a lock while the others wait.
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
      "$wine" wineboot --init >/dev/null 2>&1
      # The registry is on disk once the server has gone.
      "$wineserver" -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi

# Windows programs end their lines with CR LF; the readers of this output (CTest's test
# discovery, people) expect LF.
"$wine" "$@" | tr -d '\r'
