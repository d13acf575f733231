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
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix $WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  wineserver --wait
fi
wineserver --persistent
trap 'wineserver --kill >/dev/null 2>&1 || true' EXIT
ctest --test-dir "$BUILD" --output-on-failure "${@:2}"
