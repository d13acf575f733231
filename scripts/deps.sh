#!/usr/bin/env bash
# Installs the Debian packages the build, tests and demo need, only those missing.
set -euo pipefail
pkgs=(cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libssl-dev python3-aiosmtpd python3-pytest python3-cryptography
      libcurl4-openssl-dev nlohmann-json3-dev)
# The HTML parser, the media-type table and Ninja for the program itself;
# for the tests and the Debian package (`scripts/deps.sh demo` leaves these
# out): SpamAssassin, the man-page checker, dpkg-shlibdeps, and clang with
# libFuzzer for the fuzz targets.
pkgs+=(pkgconf libgumbo-dev media-types ninja-build)
[ "${1:-}" = demo ] || pkgs+=(spamassassin mandoc dpkg-dev clang-14 libfuzzer-14-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
