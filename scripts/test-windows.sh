#!/usr/bin/env bash
# Runs the Windows build's unit and end-to-end tests under Wine: a fresh
# Wine prefix in the build folder (never kept between CI runs), one
# persistent wineserver for the whole run so that each program start is
# cheap, and CTest with the Linux test servers on 127.0.0.1.
set -euo pipefail
BUILD=$(realpath "${1:?usage: test-windows.sh BUILD_DIR}")
export WINEPREFIX="$BUILD/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko installers: console programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY
[ -f "$WINEPREFIX/system.reg" ] || echo "creating the Wine prefix $WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineserver --persistent
trap 'wineserver --kill >/dev/null 2>&1 || true' EXIT
# Wine's own services start with the first program and live as long as the
# server: started here, away from the output pipes that CTest waits on.
wine cmd.exe /c exit </dev/null >/dev/null 2>&1
ctest --test-dir "$BUILD" --output-on-failure "${@:2}"
