"""Shared fixtures: the program under test, copied into a fresh folder so
that its settings and log files land beside it, as in an installation."""
import os
import shutil
import subprocess

import pytest

BIN = os.environ.get("PLONEMAIL_BIN", os.path.join(os.path.dirname(__file__), "../../build/plonemail"))
SCRAMBLE_BIN = os.environ.get(
    "PLONEMAIL_SCRAMBLE_BIN", os.path.join(os.path.dirname(__file__), "../../build/plonemail-scramble"))


def scrambled(password):
    """The Password setting for a password, as the scrambling tool writes it."""
    r = subprocess.run([SCRAMBLE_BIN], input=password.encode() + b"\n", capture_output=True, check=True)
    return r.stdout.decode().strip()


class Program:
    def __init__(self, folder):
        self.dir = folder
        self.path = os.path.join(folder, "plonemail")
        shutil.copy2(BIN, self.path)

    def file(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text, encoding="utf-8"):
        data = text.encode(encoding) if isinstance(text, str) else text
        with open(self.file(name), "wb") as f:
            f.write(data)
        return self.file(name)

    def read(self, name, encoding="utf-8"):
        with open(self.file(name), "rb") as f:
            return f.read().decode(encoding)

    def settings(self, **keys):
        lines = ["[SendMail]"] + [f"{k}={v}" for k, v in keys.items()]
        return self.write("plonEmail.dat", "\r\n".join(lines) + "\r\n")

    def run(self, *args, timeout=60, env=None, stdin=subprocess.DEVNULL):
        return subprocess.run([self.path, *args], cwd=self.dir, capture_output=True,
                              timeout=timeout, env=env, stdin=stdin)


@pytest.fixture
def prog(tmp_path):
    return Program(str(tmp_path))
