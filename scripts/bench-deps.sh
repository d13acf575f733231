#!/usr/bin/env bash
# Installs what bench/compare runs, when a command is missing: Postfix for its
# smtp-sink test server, stunnel4 for implicit TLS in front of it, curl, GNU
# time, openssl (the test certificate) and strace (the write counts). Postfix
# is installed unconfigured and no mail daemon is started.
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
needed=(smtp-sink=postfix stunnel4=stunnel4 curl=curl /usr/bin/time=time openssl=openssl strace=strace)
missing=()
for entry in "${needed[@]}"; do
  command -v "${entry%%=*}" >/dev/null || missing+=("${entry#*=}")
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
