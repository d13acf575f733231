#!/usr/bin/env bash
# Sends the example HTML job (template, pasted blocks, inline image,
# attachment) to a local SMTP server on 127.0.0.1 and shows the process log
# and what the server received.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec /usr/bin/python3 "$root/scripts/demo_server.py" "$root/build-release/plonemail" "$root/examples" newsletter.job "$@"
