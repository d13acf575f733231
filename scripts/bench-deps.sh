#!/usr/bin/env bash
# Installs the peers of bench/compare, only those missing: Postfix for its
# smtp-sink test server, stunnel4 for implicit TLS in front of it, curl, and
# GNU time. Postfix is installed unconfigured and no mail daemon is started.
set -euo pipefail
pkgs=(postfix stunnel4 curl time openssl python3)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
# No service may start while the packages install: a policy that refuses
# every start, for as long as the installation runs, unless one exists.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  trap '$sudo rm -f "$policy"' EXIT
fi
echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
