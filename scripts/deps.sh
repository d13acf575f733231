#!/usr/bin/env bash
# Installs the Debian packages the build, tests and demo need, only those missing.
# `scripts/deps.sh windows` installs what the Windows cross-build and its
# tests under Wine need instead.
set -euo pipefail
pkgs=(cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libssl-dev python3-aiosmtpd python3-pytest python3-cryptography
      libcurl4-openssl-dev nlohmann-json3-dev)
# The HTML parser, the media-type table and Ninja for the program itself;
# for the tests and the Debian package (`scripts/deps.sh demo` leaves these
# out): SpamAssassin, the man-page checker, dpkg-shlibdeps, and clang with
# libFuzzer for the fuzz targets.
pkgs+=(pkgconf libgumbo-dev media-types ninja-build)
[ "${1:-}" = demo ] || pkgs+=(spamassassin mandoc dpkg-dev clang-14 libfuzzer-14-dev)
apt_options=()
# The mingw-w64 cross compiler with POSIX threads, Wine, the tools that
# unpack Debian's OpenSSL sources, and zip; without their recommends (Wine
# would bring a desktop's worth).
if [ "${1:-}" = windows ]; then
  pkgs=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev zip)
  apt_options=(--no-install-recommends)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${apt_options[@]}" "${missing[@]}"
