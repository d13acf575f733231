"""Helpers of the send-run tests: job scripts, process-log texts, expected
SMTP dialogues and small image files."""
import base64
import binascii
import itertools
import re
import struct
import zlib

VERSION_LINE = "PLONEMAIL: Ver. 3.36b"
CONNECTING = "Connecting to smtp server..."
SENT = "Email sended!"

_PREFIX = re.compile(rb"^\[\d\d/[A-Za-z]{3}/\d\d \d\d:\d\d:\d\d\](?: |$)")


def job(*lines, encoding="utf-8"):
    """A job script as a caller on Windows writes it: CR LF line ends."""
    return ("\r\n".join(lines) + "\r\n").encode(encoding)


def log_texts(data, sep=b"\r\n"):
    """The messages of dated process-log lines, prefix removed."""
    lines = data.split(sep)
    assert lines[-1] == b"", "log does not end with a line end"
    texts = []
    for line in lines[:-1]:
        m = _PREFIX.match(line)
        assert m, f"line without date and time: {line!r}"
        texts.append(line[m.end():].decode("utf-8", "replace"))
    return texts


def log_file_texts(prog, name="plonemail.log"):
    with open(prog.file(name), "rb") as f:
        return log_texts(f.read())


def stat_texts(stdout):
    """The process log that /STAT prints after the window and group titles."""
    lines = stdout.split(b"\n")
    assert lines[:2] == [b"Send Email", b"Process log"]
    return log_texts(b"\n".join(lines[2:]), sep=b"\n")


def assert_texts(actual, expected):
    """Compares line by line; an expected re.Pattern stands for a line whose
    exact text is the server's (greeting, HELO reply)."""
    def shown(act, exp):
        if isinstance(exp, re.Pattern) and act is not None and exp.fullmatch(act):
            return exp.pattern
        return act

    want = [e.pattern if isinstance(e, re.Pattern) else e for e in expected]
    got = [shown(a, e) for a, e in itertools.zip_longest(actual, expected)]
    assert got == want


def echo(host, sender, to, subject):
    """The lines a send run writes before it connects."""
    return [VERSION_LINE, f"Host: {host}", f"From: {sender}", f"TO: {to}",
            f"SUBJECT:{subject}", CONNECTING]


def dialogue(sender, recipients):
    """Command and reply lines of a successful plain session with the
    recording server (aiosmtpd's own reply texts)."""
    lines = [re.compile(r"220 .*"), re.compile(r"HELO \S+"), re.compile(r"250 .*"),
             f"MAIL FROM:<{sender}>", "250 OK"]
    for r in recipients:
        lines += [f"RCPT TO:<{r}>", "250 OK"]
    return lines + ["DATA", "354 End data with <CR><LF>.<CR><LF>", ".",
                    "250 Message accepted for delivery", "QUIT", "221 Bye"]


def failure_lines(texts):
    """The step line of a failed run and the error line after it."""
    steps = [i for i, t in enumerate(texts) if t.startswith("Error sending Email, Step: ")]
    assert len(steps) == 1, texts
    i = steps[0]
    assert i + 1 < len(texts), f"no error text after the step line: {texts}"
    return texts[i], texts[i + 1]


def assert_no_secrets(data, secrets):
    """None of the secrets (bytes) is in data, neither as it is nor inside
    any Base64 text of it."""
    assert not [s for s in secrets if s in data]
    for text in re.findall(rb"[A-Za-z0-9+/=]{4,}", data):
        try:
            decoded = base64.b64decode(text + b"=" * (-len(text) % 4), validate=True)
        except binascii.Error:
            continue
        assert not [s for s in secrets if s in decoded], text


def text_of(part):
    """A text part's decoded content with plain line feeds."""
    return part.get_content().replace("\r\n", "\n")


def text_lines(part):
    """A text part's lines, trailing blanks and empty lines at the end left
    out (how an encoder ends the text is not compared)."""
    return [line.rstrip() for line in text_of(part).rstrip("\n").split("\n")]


def png(width=4, height=3, rgb=(200, 30, 30)):
    """A small valid PNG image (8-bit RGB, one colour)."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    row = b"\x00" + bytes(rgb) * width
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(row * height))
            + chunk(b"IEND", b""))
