#!/usr/bin/env bash
# Cross-builds OpenSSL's static libraries for Windows from Debian's source
# package, once: the result stays in DEST (headers in DEST/include, libssl.a
# and libcrypto.a in DEST/lib). The version is pinned: the security suite's
# newer one comes without a downloadable source description.
set -euo pipefail
DEST=$(realpath -m "${1:?usage: win-openssl.sh DEST}")
VERSION=3.0.20-1~deb12u2
[ -f "$DEST/lib/libcrypto.a" ] && [ -f "$DEST/lib/libssl.a" ] && exit 0

# apt-get source needs the source lists next to the binary ones.
SRC_LIST=/etc/apt/sources.list.d/plonemail-src.sources
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
if ! apt-get source --print-uris "openssl=$VERSION" >/dev/null 2>&1; then
  $sudo tee "$SRC_LIST" >/dev/null <<'LIST'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
LIST
  $sudo apt-get update -qq
fi

WORK="$DEST.work"
rm -rf "$WORK" && mkdir -p "$WORK"
cd "$WORK"
apt-get source -qq --download-only "openssl=$VERSION"
dpkg-source -x --skip-patches openssl_*.dsc src >/dev/null
cd src
# Debian's patches target its own builds; the upstream tree is what mingw wants.
# no-module: the legacy provider (MD4 and DES of NTLM) is built into
# libcrypto.a and loads without a module file.
./Configure mingw64 no-shared no-module no-tests --prefix=/ --libdir=lib \
  --cross-compile-prefix=x86_64-w64-mingw32- >/dev/null
make -s -j"${JOBS:-2}" build_libs > build.log 2>&1 || { tail -40 build.log; exit 1; }
mkdir -p "$DEST/lib" "$DEST/include"
cp libcrypto.a libssl.a "$DEST/lib/"
cp -r include/openssl "$DEST/include/"
cd / && rm -rf "$WORK"
