"""Shared fixtures: the program under test, linked into a fresh folder so
that its settings and log files land beside it, as in an installation."""
import getpass
import os
import shutil
import subprocess

import pytest

BIN = os.environ.get("PLONEMAIL_BIN", os.path.join(os.path.dirname(__file__), "../../build/plonemail"))
SCRAMBLE_BIN = os.environ.get(
    "PLONEMAIL_SCRAMBLE_BIN", os.path.join(os.path.dirname(__file__), "../../build/plonemail-scramble"))
# The Windows build runs under Wine: the emulator goes before every program.
EMULATOR = os.environ.get("PLONEMAIL_EMULATOR", "").split()
WINDOWS = BIN.endswith(".exe")


def command(program, *args):
    return [*EMULATOR, program, *args]


# Where the program keeps private data that goes with a settings file (the
# token cache): beside it, or on Windows in the user's local application
# data, one folder for every test (Wine's prefix is the test run's).
PRIVATE_DIR = os.path.join(os.environ.get("WINEPREFIX", ""), "drive_c", "users", getpass.getuser(), "AppData",
                           "Local", "plonemail") if WINDOWS else None


# HTML mails carry a plain-text rendering of their HTML only where the HTML
# parser was built: not in the Windows build.
needs_html_text = pytest.mark.skipif(WINDOWS, reason="the Windows build has no HTML parser")


def program_path(path):
    """A path as the program names it: under Wine on drive Z:."""
    return "Z:" + path.replace("/", "\\") if WINDOWS else path


@pytest.fixture(autouse=True)
def no_private_data_of_other_tests():
    if PRIVATE_DIR:
        shutil.rmtree(PRIVATE_DIR, ignore_errors=True)

# The locale the program runs in unless a test sets one on purpose: log
# dates and converted texts must not depend on the caller's.
LOCALE = "C.UTF-8"
LOCALE_VARS = ("LC_ALL", "LC_CTYPE", "LC_TIME", "LC_NUMERIC", "LC_MESSAGES", "LANG", "LANGUAGE")


def program_env(env=None):
    """The environment of a run: the caller's (or the test's) with the
    locale pinned, unless the test's own environment chooses a locale."""
    if env is not None and any(env.get(k) != os.environ.get(k) for k in LOCALE_VARS):
        return env
    pinned = {k: v for k, v in (os.environ if env is None else env).items() if k not in LOCALE_VARS}
    pinned["LC_ALL"] = LOCALE
    return pinned


def install(folder, source=BIN):
    """The program in a folder of its own. A hard link costs nothing and the
    program still finds its folder by the path it was started with; a copy
    only where no link can be made (another file system)."""
    path = os.path.join(folder, "plonemail.exe" if WINDOWS else "plonemail")
    try:
        os.link(source, path)
    except OSError:
        shutil.copy2(source, path)
    return path


def scrambled(value):
    """The value in the form the settings file stores for Password and the
    other scrambled keys, from the installers' scrambler."""
    r = subprocess.run(command(SCRAMBLE_BIN), input=value.encode() + b"\n", capture_output=True, check=True)
    return r.stdout.decode().strip()


class Program:
    def __init__(self, folder):
        self.dir = folder
        self.path = install(folder)

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
        # The tests write their job scripts in UTF-8, as under the UTF-8
        # locale they run in on Linux; Wine's ANSI code page is windows-1252,
        # so the Windows program is told, the way an installation would be.
        if WINDOWS and "CodePage" not in keys:
            keys["CodePage"] = 65001
        lines = ["[SendMail]"] + [f"{k}={v}" for k, v in keys.items()]
        return self.write("plonEmail.dat", "\r\n".join(lines) + "\r\n")

    def run(self, *args, timeout=60, env=None, stdin=subprocess.DEVNULL, cwd=None):
        """Runs the program, by default in its own folder."""
        return subprocess.run(command(self.path, *args), cwd=cwd or self.dir, capture_output=True,
                              timeout=timeout, env=program_env(env), stdin=stdin)


@pytest.fixture
def prog(tmp_path):
    return Program(str(tmp_path))
