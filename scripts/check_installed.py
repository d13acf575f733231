#!/usr/bin/python3
"""Runs an installed plonemail where it lies, with its settings file given
by /CFG, on a copy of the installed examples, and checks that the example
newsletter reaches a local SMTP server.

usage: check_installed.py PROGRAM EXAMPLES_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from smtpservers import RecordingServer  # noqa: E402


def main(program, examples):
    with tempfile.TemporaryDirectory(prefix="plonemail-installed-") as folder:
        for name in os.listdir(examples):
            if name != "plonEmail.dat":
                shutil.copy(os.path.join(examples, name), folder)
        with RecordingServer() as server:
            settings = os.path.join(folder, "mail.dat")
            with open(settings, "w") as f:
                f.write(f"[SendMail]\nHost=127.0.0.1\nPort={server.port}\nTimeout=10\n")
            r = subprocess.run([program, "newsletter.job", "/NOERROR", "/CFG", settings], cwd=folder,
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if r.returncode != 0 or len(server.received) != 1:
        sys.stderr.write(r.stdout.decode("utf-8", "replace") + r.stderr.decode("utf-8", "replace"))
        print(f"installed program: exit status {r.returncode}, {len(server.received)} mail(s) received")
        return 1
    msg = server.received[0].message
    types = [p.get_content_type() for p in msg.walk() if not p.is_multipart()]
    print(f"installed program delivered \"{msg['Subject']}\" to {', '.join(server.received[0].rcpt_tos)}: "
          f"{', '.join(types)}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2]))
