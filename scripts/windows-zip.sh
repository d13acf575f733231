#!/usr/bin/env bash
# Packs the Windows programs with the README, the job-script guide, the
# examples and a sample settings file into BUILD/plonemail-windows.zip.
# Text files get CR LF line ends, as Windows editors expect.
set -euo pipefail
BUILD=$(realpath "${1:?usage: windows-zip.sh BUILD_DIR}")
cd "$(dirname "$0")/.."
STAGE="$BUILD/zip/plonemail"
rm -rf "$BUILD/zip" && mkdir -p "$STAGE/examples"
cp "$BUILD/plonemail.exe" "$BUILD/plonemail-scramble.exe" "$STAGE/"
crlf() { sed 's/\r*$/\r/' "$1" > "$2"; }
crlf README.md "$STAGE/README.txt"
crlf docs/job-script.md "$STAGE/job-script.txt"
crlf examples/plonEmail.dat "$STAGE/plonEmail.dat"
for f in examples/*; do
  case "$f" in
    *.png) cp "$f" "$STAGE/examples/" ;;
    *) crlf "$f" "$STAGE/examples/$(basename "$f")" ;;
  esac
done
rm -f "$BUILD/plonemail-windows.zip"
(cd "$BUILD/zip" && zip -qr "$BUILD/plonemail-windows.zip" plonemail)
echo "$BUILD/plonemail-windows.zip"
