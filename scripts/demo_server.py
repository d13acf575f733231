#!/usr/bin/python3
"""Sends one example job to a local SMTP server and shows what arrived.

usage: demo_server.py PROGRAM EXAMPLES_DIR JOB [--keep]

Starts aiosmtpd on a free port of 127.0.0.1, copies the program and the
example files into a temporary folder (job scripts use paths relative to
the current folder), writes a settings file there, runs
`plonemail JOB /STAT /NOERROR` in that folder, prints the process log and a
summary of the received mail, and stops the server. Exits 0 only when a
mail arrived and the program reported success.
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from smtpservers import RecordingServer  # noqa: E402


def prepare(folder, program, examples):
    shutil.copy2(program, os.path.join(folder, "plonemail"))
    for name in os.listdir(examples):
        path = os.path.join(examples, name)
        if os.path.isfile(path) and name != "plonEmail.dat":
            shutil.copy2(path, folder)


def write_settings(folder, port):
    lines = ["[SendMail]", "Host=127.0.0.1", f"Port={port}", "SaveLog=1", "Timeout=10"]
    path = os.path.join(folder, "plonEmail.dat")
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    return path


def show_part(part, depth):
    indent = "  " * depth
    kind = part.get_content_type()
    if part.is_multipart():
        print(f"{indent}{kind}")
        for sub in part.get_payload():
            show_part(sub, depth + 1)
        return
    size = len(part.get_payload(decode=True) or b"")
    details = [f"{size} bytes"]
    if part.get_content_charset():
        details.append(f"charset {part.get_content_charset()}")
    if part.get_content_disposition():
        details.append(part.get_content_disposition())
    if part.get_filename():
        details.append(f"name {part.get_filename()}")
    if part["Content-ID"]:
        details.append(f"Content-ID {part['Content-ID']}")
    print(f"{indent}{kind} ({', '.join(details)})")


def summarise(mail):
    msg = mail.message
    print(f"envelope: MAIL FROM <{mail.mail_from}>, RCPT TO {', '.join(f'<{r}>' for r in mail.rcpt_tos)}")
    for name in ("From", "To", "Cc", "Bcc", "Subject", "X-Mailer"):
        if msg[name] is not None:
            print(f"{name}: {msg[name]}")
    print(f"size: {len(mail.raw)} bytes; parts:")
    show_part(msg, 1)
    alternative = next((p for p in msg.walk() if p.get_content_type() == "multipart/alternative"), None)
    if alternative is not None:
        plain = alternative.get_payload()[0]
        print("what a reader set to plain text sees (the text/plain alternative):")
        for line in plain.get_content().replace("\r\n", "\n").rstrip("\n").split("\n"):
            print(f"  | {line}")


def run(program, examples, job, keep):
    folder = tempfile.mkdtemp(prefix="plonemail-demo-")
    try:
        prepare(folder, program, examples)
        with RecordingServer() as server:
            settings = write_settings(folder, server.port)
            print(f"== SMTP server (aiosmtpd) on 127.0.0.1:{server.port}")
            print(f"== settings {settings}")
            with open(settings) as f:
                print(f.read().rstrip())
            print(f"== plonemail {job} /STAT /NOERROR   (in {folder})")
            r = subprocess.run(["./plonemail", job, "/STAT", "/NOERROR"], cwd=folder,
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        sys.stdout.write(r.stdout.decode("utf-8", "replace"))
        if r.stderr:
            print("== messages")
            sys.stdout.write(r.stderr.decode("utf-8", "replace"))
        print(f"== exit status {r.returncode}")
        print(f"== received by the server: {len(server.received)} mail(s)")
        for mail in server.received:
            summarise(mail)
        if keep:
            print(f"== folder kept: {folder}")
        return 0 if server.received and r.returncode == 0 else 1
    finally:
        if not keep:
            shutil.rmtree(folder, ignore_errors=True)


def main(argv):
    args = [a for a in argv if a != "--keep"]
    if len(args) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    program, examples, job = args
    if not os.access(program, os.X_OK):
        print(f"program not found: {program} (run make program)", file=sys.stderr)
        return 2
    return run(os.path.abspath(program), os.path.abspath(examples), job, "--keep" in argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
