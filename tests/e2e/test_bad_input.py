"""Bad local input: job scripts, templates, attachments, settings and log
files that are broken, huge or not files at all. Every run ends with a
clear message and the documented exit status, and keeps or deletes its job
script as documented."""
import os
import random
import socket

import pytest

from conftest import WINDOWS
from mailjobs import SENT, failure_lines, job, log_file_texts, log_texts, stat_texts, text_of
from smtpservers import RecordingServer, ScriptedServer

HEAD = ['<FROM EMAIL="a@example.org">', '<TO EMAIL="b@example.org">', '<SUBJECT CONTENT="Hello">']


def send(prog, server, job_bytes, *args, **settings):
    prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, **settings)
    prog.write("job.txt", job_bytes)
    return prog.run("job.txt", "/NOERROR", *args, timeout=300)


def delivered(prog, r, server):
    """The one mail a successful run delivered."""
    assert r.returncode == 0, r.stderr
    assert log_file_texts(prog)[-1] == SENT
    assert len(server.received) == 1
    assert not os.path.exists(prog.file("job.txt"))
    return server.received[0].message


def html_part(msg):
    parts = [p for p in msg.walk() if p.get_content_type() == "text/html"]
    assert len(parts) == 1
    return text_of(parts[0])


def failure_reason(texts):
    """The error text of a failed run: after its step line, or before "End
    with errors." when the run could not start."""
    if texts[-1] == "End with errors.":
        assert texts[-2].startswith("Error: "), texts
        return texts[-2]
    return failure_lines(texts)[1]


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_job_script_of_random_bytes(prog, seed):
    noise = random.Random(seed).randbytes(300_000)
    with RecordingServer() as server:
        r = send(prog, server, noise)
    texts = log_file_texts(prog)  # every line dated, whatever the job held
    assert r.returncode in (0, 1), r.stderr
    if r.returncode == 0:
        assert texts[-1] == SENT and len(server.received) == 1
    else:
        assert failure_reason(texts).strip(), texts
        assert server.received == []
    assert not os.path.exists(prog.file("job.txt"))


def test_job_script_of_100_mb(prog):
    # A mail among a million lines the reader passes over.
    filler = (b"# " + b"c" * 97 + b"\r\n") * 500_000 + (b"not a tag " * 10 + b"\r\n") * 500_000
    body = job(*HEAD, "<MEMO>", "first line", "<ENDMEMO>")
    with RecordingServer() as server:
        r = send(prog, server, filler[:len(filler) // 2] + body + filler[len(filler) // 2:])
    msg = delivered(prog, r, server)
    assert msg["Subject"] == "Hello"
    assert text_of(msg).rstrip("\n") == "first line"


@pytest.mark.parametrize("line", [
    pytest.param(" ".join(f"word{i}" for i in range(1_200_000)), id="words"),
    pytest.param("".join(chr(ord("a") + i % 26) for i in range(10_000_000)), id="one word"),
])
def test_job_script_with_a_10_mb_line(prog, line):
    # Longer than any line a server takes: the text goes quoted-printable.
    with RecordingServer() as server:
        r = send(prog, server, job(*HEAD, f'<MESSAGE CONTENT="{line}">'))
    msg = delivered(prog, r, server)
    assert msg["Content-Transfer-Encoding"] == "quoted-printable"
    assert text_of(msg).rstrip("\n") == line


def test_template_that_pastes_a_block_into_itself(prog):
    prog.write("t.html", "\r\n".join([
        "<ul>",
        "<!--?BLOCK ROW?-->",
        "<li><?N?></li>",
        "<!--?PASTE ROWS?-->",
        "<!--?ENDBLOCK?-->",
        "<!--?PASTE ROWS?-->",
        "</ul>"]) + "\r\n")
    pastes = [line for i in range(50) for line in (f'<VAR N = "{i}">', "<BLOCK ROW ROWS>")]
    with RecordingServer() as server:
        r = send(prog, server, job(*HEAD, "<EMAIL TYPE=HTML>", '<TEMPLATE FILE="t.html">', *pastes))
    html = html_part(delivered(prog, r, server))
    assert html.rstrip("\n").split("\n") == ["<ul>", *(f"<li>{i}</li>" for i in range(50)), "</ul>"]


def test_template_of_a_million_placeholders(prog):
    # 1000 lines of 1000 placeholders: plain, spaced, in the escaped form an
    # HTML editor writes, and one never set.
    line = "<p>" + "<?A?><? b ?>&lt;?C?&gt;<?NONE?>" * 250 + "</p>"
    prog.write("t.html", (line + "\r\n") * 1000)
    with RecordingServer() as server:
        r = send(prog, server, job(*HEAD, "<EMAIL TYPE=HTML>", '<TEMPLATE FILE="t.html">',
                                   '<VAR A = "1">', '<VAR B = "22">', '<VAR C = "333">'))
    html = html_part(delivered(prog, r, server))
    assert html.rstrip("\n").split("\n") == ["<p>" + "122333" * 250 + "</p>"] * 1000


def unix_socket(prog):
    s = socket.socket(socket.AF_UNIX)
    s.bind(prog.file("a.bin"))
    return s


# How an attachment fails: made by the setup, then the error text it gives.
ATTACHMENT_FAULTS = {
    "unreadable": (lambda p: os.symlink("/proc/self/mem", p.file("a.bin")),  # opens, every read fails
                   'Cannot read file "a.bin": Input/output error'),
    "named pipe": (lambda p: os.mkfifo(p.file("a.bin")), 'Cannot open file "a.bin": not a regular file'),
    "socket": (unix_socket, 'Cannot open file "a.bin": No such device or address'),
}
# Wine shows a Unix named pipe or socket to Windows programs as a disk file.
UNIX_ONLY = pytest.mark.skipif(WINDOWS, reason="a Unix special file, which Wine shows as a disk file")


@pytest.mark.parametrize("fault", [pytest.param(f, marks=UNIX_ONLY if f in ("named pipe", "socket") else ())
                                   for f in ATTACHMENT_FAULTS])
def test_attachment_that_cannot_be_read_fails_the_mail(prog, fault):
    make, reason = ATTACHMENT_FAULTS[fault]
    keep = make(prog)
    with RecordingServer() as server:
        r = send(prog, server, job(*HEAD, '<MESSAGE CONTENT="Hi">', '<ATTACHMENT FILE="a.bin">'))
    if keep:
        keep.close()
    assert r.returncode == 1, r.stderr
    assert server.received == []
    step, error = failure_lines(log_file_texts(prog))
    assert step == "Error sending Email, Step: 5 Error: 500"
    assert reason in error
    # Deleted before anything was sent, as always.
    assert not os.path.exists(prog.file("job.txt"))


def test_attachment_that_is_a_directory_is_left_out(prog):
    os.mkdir(prog.file("a.bin"))
    with RecordingServer() as server:
        r = send(prog, server, job(*HEAD, '<MESSAGE CONTENT="Hi">', '<ATTACHMENT FILE="a.bin">'))
    msg = delivered(prog, r, server)
    assert "File: a.bin Does not exist" in log_file_texts(prog)
    assert msg.get_content_type() == "text/plain"


def test_attachment_that_vanishes_before_sending_fails_the_mail(prog):
    prog.write("a.bin", b"\x00\x01" * 1000)

    def replies(line):
        if line.upper().startswith("MAIL FROM"):
            os.remove(prog.file("a.bin"))
        if line.upper() == "DATA":
            return "354 go ahead"
        return None if line == "<DATA LINE>" else "250 OK"

    with ScriptedServer(replies=replies) as server:
        r = send(prog, server, job(*HEAD, '<MESSAGE CONTENT="Hi">', '<ATTACHMENT FILE="a.bin">'))
    assert r.returncode == 1, r.stderr
    assert "<END OF DATA>" not in server.lines and "." not in server.lines
    step, error = failure_lines(log_file_texts(prog))
    assert step == "Error sending Email, Step: 5 Error: 500"
    assert 'Cannot open file "a.bin": No such file or directory' in error


@pytest.mark.parametrize("seed", [1, 2])
def test_settings_file_of_random_bytes(prog, seed):
    # Every value keeps its default: no server to send to.
    prog.write("plonEmail.dat", random.Random(seed).randbytes(100_000))
    prog.write("job.txt", job(*HEAD, '<MESSAGE CONTENT="Hi">'))
    r = prog.run("job.txt", "/NOERROR", "/STAT")
    assert r.returncode == 1, r.stderr
    texts = stat_texts(r.stdout)
    assert texts[1] == "Host: "
    assert texts[-2:] == ["Error: DNS lookup: invalid host name.", "End with errors."]
    assert not os.path.exists(prog.file("job.txt"))


def test_log_file_on_a_full_disk(prog):
    # Each line that cannot be written says so in the process log; the mail
    # still goes.
    with RecordingServer() as server:
        r = send(prog, server, job(*HEAD, '<MESSAGE CONTENT="Hi">'), "/STAT", "/LOG", "/dev/full")
    assert r.returncode == 0, r.stderr
    assert len(server.received) == 1
    lines = r.stdout.replace(b"\r\n", b"\n").split(b"\n")
    failed = [line for line in lines if line.startswith(b"*** ")]
    dated = log_texts(b"\n".join(line for line in lines[2:] if not line.startswith(b"*** ")), sep=b"\n")
    assert dated[-1] == SENT
    assert failed == [b"*** ExceptionENOSPC: No space left on device writing to log file ***"] * len(dated)


def refused_run(prog, language):
    """A run whose recipient is refused, with the language file: the /STAT
    title and the step line of the failure."""
    prog.write("big.lng", language)
    with RecordingServer(refuse_rcpt={"b@example.org"}) as server:
        r = send(prog, server, job(*HEAD, '<MESSAGE CONTENT="Hi">'), "/STAT", Language="big.lng")
    assert r.returncode == 1, r.stderr
    title = r.stdout.decode().splitlines()[0]
    step, reply = log_file_texts(prog)[-2:]
    assert reply == "550 5.1.1 mailbox unavailable"
    return title, step


def test_language_file_with_10000_keys(prog):
    translations = [f"frmSendEMail.c{i}.Caption=t{i}" for i in range(5000)] + ["frmSendEMail.Caption=Correo"]
    messages = [f"Message number {i}=m{i}" for i in range(5000)] + ["Error sending Email=Fallo al enviar"]
    language = "\r\n".join(["[Translations]", *translations, "[Messages]", *messages]) + "\r\n"
    assert refused_run(prog, language) == ("Correo", "Fallo al enviar, Step: 4 Error: 550")


def test_language_file_with_keys_of_100000_characters(prog):
    long = "k" * 100_000
    language = "\r\n".join([
        "[Translations]", f"frmSendEMail.{long}.Caption=never", f"{long}=never", "frmSendEMail.Caption=Correo",
        "[Messages]", f"{long}=never", "Error sending Email=" + "E" * 100_000]) + "\r\n"
    # A value is read up to 2047 characters.
    assert refused_run(prog, language) == ("Correo", "E" * 2047 + ", Step: 4 Error: 550")
