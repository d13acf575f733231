#!/usr/bin/env bash
# Runs the program on the example settings in a temporary folder and shows
# its process log and log file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$root/build/plonemail" "$tmp/"
cp "$root/examples/plonEmail.dat" "$tmp/"
echo "== settings ($tmp/plonEmail.dat)"
cat "$tmp/plonEmail.dat"
echo "== plonemail job.txt /STAT /NOERROR /NODEL"
status=0
(cd "$tmp" && ./plonemail job.txt /STAT /NOERROR /NODEL) || status=$?
echo "== exit status $status"
echo "== log file $tmp/plonemail.log"
cat "$tmp/plonemail.log" 2>/dev/null || echo "(empty)"
