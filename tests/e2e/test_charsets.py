"""Non-ASCII subjects, names and bodies, written in UTF-8 or in windows-1252
(settings CodePage), arrive so that a MIME parser gives back the same text."""
import os

import pytest

from conftest import WINDOWS
from mailjobs import job, text_of
from smtpservers import RecordingServer

CASES = {
    "utf-8": dict(
        settings={},
        subject="Grüße aus Köln – 5 € für 日本",
        sender="Jürgen Müller",
        to="Zoë Ωmega",
        body="Prüfung bestanden: 5 € — 日本語 ✓",
        memo="Straße Nr. 7 · Überweisung"),
    "cp1252": dict(
        settings={"CodePage": "windows-1252"},
        subject="Grüße aus Köln – 5 € für Señor",
        sender="Jürgen Müller",
        to="Zoë Œuvre",
        body="Prüfung bestanden: 5 € — “quoted” ñ",
        memo="Straße Nr. 7 · Überweisung"),
    "gb18030": dict(
        settings={"CodePage": "gb18030"},
        subject="每日报告：备份完成",
        sender="王小明",
        to="李华",
        body="备份已完成 — 共 3 卷 ✓",
        memo="明天见"),
}
# Wine converts no GB18030.
ENCODINGS = [pytest.param(e, marks=pytest.mark.skipif(WINDOWS and e == "gb18030", reason="no GB18030 under Wine"))
             for e in CASES]
# Under a UTF-8 locale; the windows-1252 case takes its character set from
# the settings file alone.
ENV = dict(os.environ, LC_ALL="C.UTF-8")


def deliver(prog, encoding, lines, files=()):
    case = CASES[encoding]
    for name, text in files:
        prog.write(name, text.encode(encoding))
    with RecordingServer() as server:
        prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, **case["settings"])
        prog.write("job.txt", job(
            f'<FROM NAME="{case["sender"]}" EMAIL="juergen@example.org">',
            f'<TO NAME="{case["to"]}" EMAIL="zoe@example.org">',
            f'<SUBJECT CONTENT="{case["subject"]}">',
            *lines, encoding=encoding))
        r = prog.run("job.txt", "/NOERROR", env=ENV)
    assert r.returncode == 0, r.stderr
    assert len(server.received) == 1
    msg = server.received[0].message
    assert msg["Subject"] == case["subject"]
    assert [a.display_name for a in msg["From"].addresses] == [case["sender"]]
    assert [a.display_name for a in msg["To"].addresses] == [case["to"]]
    return case, msg


@pytest.mark.parametrize("encoding", ENCODINGS)
def test_plain_text_headers_and_body(prog, encoding):
    case = CASES[encoding]
    case, msg = deliver(prog, encoding, [
        f'<MESSAGE CONTENT="{case["body"]}">', "<MEMO>", case["memo"], "<ENDMEMO>"])
    assert msg.get_content_type() == "text/plain"
    assert text_of(msg).rstrip("\n") == case["body"] + "\n" + case["memo"]


@pytest.mark.parametrize("encoding", ENCODINGS)
def test_html_part_is_labelled_with_its_real_charset(prog, encoding):
    case = CASES[encoding]
    template = "<html><body>\r\n<p>Grüße, <?NAME?>!</p>\r\n<p><?TEXT?></p>\r\n</body></html>\r\n"
    case, msg = deliver(prog, encoding, [
        "<EMAIL TYPE=HTML>", '<TEMPLATE FILE="mail.html">',
        f'<VAR NAME = "{case["to"]}">', f'<VAR TEXT = "{case["body"]}">'],
        files=[("mail.html", template)])
    html = [p for p in msg.walk() if p.get_content_type() == "text/html"]
    assert len(html) == 1
    assert text_of(html[0]).rstrip("\n").split("\n") == [
        "<html><body>", f"<p>Grüße, {case['to']}!</p>", f"<p>{case['body']}</p>", "</body></html>"]
    # The plain-text rendering beside it is converted from the same code page
    # (where the build has the HTML parser).
    if WINDOWS:
        return
    plain = [p for p in msg.walk() if p.get_content_type() == "text/plain"]
    assert len(plain) == 1
    assert text_of(plain[0]).rstrip("\n").split("\n") == [f"Grüße, {case['to']}!", "", case["body"]]


# Code pages whose decoder holds a base letter back for a combining mark that
# may follow: a text ending in a letter must still arrive whole.
COMBINING = {
    "windows-1258": ("cp1258", "Xin chào", "Lê Văn Tám", "Chào ông bà"),
    "windows-1255": ("cp1255", "שלום עולם", "דוד כהן", "תודה רבה לכולם"),
}


@pytest.mark.parametrize("codepage", COMBINING)
def test_texts_ending_in_a_letter_arrive_whole(prog, codepage):
    encoding, subject, name, body = COMBINING[codepage]
    with RecordingServer() as server:
        prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, CodePage=codepage)
        prog.write("job.txt", job(
            f'<FROM NAME="{name}" EMAIL="sender@example.org">',
            '<TO EMAIL="to@example.org">',
            f'<SUBJECT CONTENT="{subject}">',
            f'<MESSAGE CONTENT="{body}">', encoding=encoding))
        r = prog.run("job.txt", "/NOERROR", env=ENV)
    assert r.returncode == 0, r.stderr
    msg = server.received[0].message
    assert msg["Subject"] == subject
    assert [a.display_name for a in msg["From"].addresses] == [name]
    assert text_of(msg).rstrip("\n") == body


# The text part is labelled iso-8859-1 when every letter of the mail fits
# it, headers included, and utf-8 otherwise.
@pytest.mark.parametrize("subject, body, charset", [
    pytest.param("Report", "All done.", "iso-8859-1", id="ASCII"),
    pytest.param("Café", "Crème brûlée für Ärzte", "iso-8859-1", id="Latin-1"),
    pytest.param("Report", "Price: 5 €", "utf-8", id="euro in the body"),
    pytest.param("5 € off", "Crème brûlée", "utf-8", id="euro in the subject"),
])
def test_text_part_charset_label(prog, subject, body, charset):
    with RecordingServer() as server:
        prog.settings(Host="127.0.0.1", Port=server.port, Timeout=10)
        prog.write("job.txt", job('<FROM EMAIL="a@example.org">', '<TO EMAIL="b@example.org">',
                                  f'<SUBJECT CONTENT="{subject}">', f'<MESSAGE CONTENT="{body}">'))
        r = prog.run("job.txt", "/NOERROR")
    assert r.returncode == 0, r.stderr
    msg = server.received[0].message
    assert msg.get_content_type() == "text/plain"
    assert msg.get_content_charset() == charset
    assert msg["Subject"] == subject
    assert text_of(msg).rstrip("\n") == body
