"""Start-up of the real program: settings file, log file, exit codes."""
import os
import re
import subprocess

import pytest

from conftest import SCRAMBLE_BIN, WINDOWS, command, program_path
from mailjobs import job, log_file_texts, log_texts
from smtpservers import RecordingServer

LINE = re.compile(r"^\[\d\d/[A-Za-z]{3}/\d\d \d\d:\d\d:\d\d\] ")


def test_no_argument_creates_settings_quietly(prog):
    r = prog.run()
    assert r.returncode == 0
    assert r.stdout == b""
    assert os.path.getsize(prog.file("plonEmail.dat")) == 0


def test_savelog_appends_dated_lines(prog):
    prog.settings(SaveLog=1, Auth=9)
    prog.write("run.log", "kept\r\n")
    for _ in range(2):
        assert prog.run("job.txt", "/NOERROR", "/LOG", "run.log").returncode == 2
    lines = prog.read("run.log").split("\r\n")
    assert lines[0] == "kept" and lines[-1] == ""
    assert len(lines) == 4 and all(LINE.match(l) for l in lines[1:3])


def test_stat_prints_title_then_log_and_savelog_off_writes_nothing(prog):
    prog.settings(SaveLog=0, Auth=9)
    r = prog.run("job.txt", "/NOERROR", "/STAT", "/LOG", "x.log")
    out = r.stdout.decode().splitlines()
    assert out[:2] == ["Send Email", "Process log"]
    assert LINE.match(out[2]) and out[2].endswith("Invalid setting Auth=9 (allowed: 0 to 8)")
    assert not os.path.exists(prog.file("x.log"))


def test_unopenable_log_file_is_reported_and_run_goes_on(prog):
    prog.settings(SaveLog=1, Auth=9)
    r = prog.run("job.txt", "/NOERROR", "/STAT", "/LOG", "/no/such/dir/x.log")
    out = r.stdout.decode().splitlines()
    assert out[2].endswith("*** Unable to open log file ***")
    assert out[3].endswith("Invalid setting Auth=9 (allowed: 0 to 8)")


def test_invalid_auth_names_key_and_value_in_log_file(prog):
    prog.settings(SaveLog=1, Auth=9)
    r = prog.run("job.txt", "/NOERROR")
    assert r.returncode == 2
    lines = prog.read("plonemail.log").splitlines()
    assert all(LINE.match(line) for line in lines)
    assert lines[-1].endswith("Invalid setting Auth=9 (allowed: 0 to 8)")


def test_cfg_into_missing_folder_fails_clearly(prog):
    missing = prog.file("nowhere/conf.dat")
    r = prog.run("job.txt", "/NOERROR", "/CFG", missing)
    assert r.returncode == 2
    assert r.stdout == b""
    assert f"Cannot create settings file {missing}: No such file or directory" in r.stderr.decode()


def test_help_and_version(prog):
    assert b"usage: plonemail JOBFILE" in prog.run("--help").stdout
    assert prog.run("--version").stdout.strip() == b"plonemail 3.36b"


def test_scrambler_reads_one_line():
    r = subprocess.run(command(SCRAMBLE_BIN), input=b"AA\n", capture_output=True, check=True)
    assert r.stdout == (b"na\r\n" if WINDOWS else b"na\n")


PLAIN = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
SCRAMBLED = "naCSOjkrx5lbychGXqFHe6AQLtVM4I07K8N9sgZJ2fuDTodBPvYWziU3pRwE1m"


def settings_value(text):
    """What the settings reader makes of Key=text: blanks trimmed, one pair
    of enclosing quotes removed."""
    value = text.strip(" \t")
    if len(value) >= 2 and value[0] in "\"'" and value[-1] == value[0]:
        value = value[1:-1]
    return value


def unscramble(stored):
    out = []
    for i, c in enumerate(stored):
        p = SCRAMBLED.find(c)
        out.append(c if p < 0 else PLAIN[(p - i) % 62])
    return "".join(out)


@pytest.mark.parametrize("password", [
    "plain", " secret", "secret ", "\tsecret", "'quoted'", '"dq"', '" both "', "x'", "  "])
def test_scrambler_output_reads_back_as_the_password(password):
    r = subprocess.run(command(SCRAMBLE_BIN), input=password.encode() + b"\n", capture_output=True, check=True)
    line = r.stdout.decode().replace("\r\n", "\n")  # a Windows console line ends in CR LF
    assert line.endswith("\n")
    assert unscramble(settings_value(line[:-1])) == password
    # Unquoted when the reader would take it as it is.
    assert line.startswith('"') == (settings_value(password) != password)


def test_scrambler_refuses_a_password_the_settings_file_cannot_hold():
    r = subprocess.run(command(SCRAMBLE_BIN), input=b"a" * 2048 + b"\n", capture_output=True)
    assert r.returncode == 2 and r.stdout == b""
    assert b"cannot be stored in the settings file" in r.stderr


NOT_ASCII = "not ASCII-compatible, job scripts cannot be read in it"
# Wine converts no ISO-2022 code page.
ISO_2022 = "not available on this system" if WINDOWS else NOT_ASCII


@pytest.mark.parametrize("value, reason", [
    pytest.param(value, reason, id=value) for value, reason in [
        ("iso-2022-jp", ISO_2022), ("utf-7", NOT_ASCII), ("1200", NOT_ASCII), ("37", NOT_ASCII),
        ("52936", "not available on this system"), ("klingon", "unknown character set")]])
def test_code_page_that_cannot_hold_a_job_script_is_refused(prog, value, reason):
    with RecordingServer() as server:
        prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, CodePage=value)
        prog.write("job.txt", job('<FROM EMAIL="a@example.org">', '<TO EMAIL="b@example.org">',
                                  '<SUBJECT CONTENT="Hello">', '<MESSAGE CONTENT="Hi">'))
        r = prog.run("job.txt", "/NOERROR")
    assert r.returncode == 2, r.stderr
    assert server.received == []
    assert log_file_texts(prog)[-1] == f"Invalid setting CodePage={value} ({reason})"


def test_unreadable_settings_file_ends_the_run_with_exit_2(prog):
    os.symlink("/proc/self/mem", prog.file("plonEmail.dat"))  # opens, and every read fails
    prog.write("job.txt", job('<TO EMAIL="b@example.org">'))
    r = prog.run("job.txt", "/NOERROR")
    assert r.returncode == 2
    assert r.stderr.decode().strip() == (f"Cannot read settings file {program_path(prog.file('plonEmail.dat'))}: "
                                         "Input/output error")
    assert os.path.exists(prog.file("job.txt"))


# Each case: switches, the settings file it reads (relative to the program's
# folder "prog/" or the current one "cwd/"), and where its log line lands.
@pytest.mark.parametrize("args, settings, log", [
    pytest.param((), "prog/plonEmail.dat", "prog/plonemail.log", id="defaults"),
    pytest.param(("/LOG", "named.log"), "prog/plonEmail.dat", "prog/named.log", id="LOG name"),
    pytest.param(("/LOG", "logs/x.log"), "prog/plonEmail.dat", "cwd/logs/x.log", id="LOG path"),
    pytest.param(("/CFG", "alt"), "prog/alt.dat", "prog/plonemail.log", id="CFG name"),
    pytest.param(("/CFG", "conf/alt.dat"), "cwd/conf/alt.dat", "prog/plonemail.log", id="CFG path found"),
    pytest.param(("/CFG", "etc/alt.dat"), "prog/etc/alt.dat", "prog/plonemail.log", id="CFG path not found"),
])
def test_files_beside_the_program_when_started_from_elsewhere(prog, tmp_path_factory, args, settings, log):
    cwd = str(tmp_path_factory.mktemp("cwd"))
    folders = {"prog": prog.dir, "cwd": cwd}

    def path(name):
        folder, rest = name.split("/", 1)
        return os.path.join(folders[folder], rest)

    for sub in ("cwd/logs", "cwd/conf", "prog/etc"):
        os.makedirs(path(sub), exist_ok=True)
    with open(path(settings), "w") as f:
        f.write("[SendMail]\nSaveLog=1\nAuth=9\n")  # refused at once, after one log line
    r = prog.run("job.txt", "/NOERROR", *args, cwd=cwd)
    assert r.returncode == 2, r.stderr
    with open(path(log), "rb") as f:
        assert log_texts(f.read()) == ["Invalid setting Auth=9 (allowed: 0 to 8)"]
    logs = [os.path.join(root, f) for top in (prog.dir, cwd) for root, _, files in os.walk(top)
            for f in files if f.endswith(".log")]
    assert logs == [path(log)]


def test_no_argument_creates_the_settings_beside_the_program(prog, tmp_path_factory):
    cwd = str(tmp_path_factory.mktemp("cwd"))
    assert prog.run(cwd=cwd).returncode == 0
    assert os.path.exists(prog.file("plonEmail.dat"))
    assert os.listdir(cwd) == []
