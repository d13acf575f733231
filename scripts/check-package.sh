#!/usr/bin/env bash
# Checks the Debian package that `make package` built: its dependencies
# resolve on this machine (apt-get, simulated), dpkg installs it into a
# scratch root, and the installed program prints its version and delivers
# the installed example newsletter to a local SMTP server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
debs=("$root"/build-release/plonemail_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "no single package in build-release (run make package)" >&2; exit 1; }
deb=${debs[0]}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "== $(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"
apt-get install -s "$deb" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log" >&2; exit 1; }

# The scratch root's package database knows none of the libraries, which
# are this machine's: dpkg is told to install regardless.
mkdir -p "$scratch/root/var/lib/dpkg/info" "$scratch/root/var/lib/dpkg/updates"
touch "$scratch/root/var/lib/dpkg/status"
dpkg --root="$scratch/root" --force-not-root --force-depends --log=/dev/null -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
  { cat "$scratch/dpkg.log" >&2; exit 1; }
dpkg --root="$scratch/root" -L plonemail | grep -E '/(bin|man1)/' | sed 's/^/installed: /'

program="$scratch/root/usr/bin/plonemail"
echo "== $("$program" --version)"
/usr/bin/python3 "$root/scripts/check_installed.py" "$program" "$scratch/root/usr/share/doc/plonemail/examples"
