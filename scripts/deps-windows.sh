#!/usr/bin/env bash
# Installs what the Windows build and its tests under Wine need, only what
# is missing: the mingw-w64 cross compiler (posix threads), Wine, the
# tools that unpack Debian's OpenSSL sources, and zip.
set -euo pipefail
pkgs=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev zip)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
