"""What a job script says arrives as it was written: file names in any
script and with any quotes, memo lines with their blanks, long lines, long
folded headers, image tags, display names and addresses with apostrophes,
all read back by the standard parser exactly."""
import os
from html.parser import HTMLParser

import pytest

from mailjobs import job, text_of
from smtpservers import RecordingServer

ENV = dict(os.environ, LC_ALL="C.UTF-8")
SENDER = '<FROM NAME="Ann" EMAIL="ann@example.org">'


def deliver(prog, *lines, files=()):
    for name, data in files:
        prog.write(name, data)
    with RecordingServer() as server:
        prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10)
        prog.write("job.txt", job(SENDER, *lines))
        r = prog.run("job.txt", "/NOERROR", env=ENV)
    assert r.returncode == 0, (r.stderr, prog.read("plonemail.log"))
    assert len(server.received) == 1
    mail = server.received[0]
    assert max(len(line) for line in mail.raw.split(b"\r\n")) <= 998
    return mail


def named_parts(msg):
    return {p.get_filename(): p for p in msg.walk() if p.get_filename()}


def addresses(header):
    return [(a.display_name, a.addr_spec) for a in header.addresses]


@pytest.mark.parametrize("kind", ["plain", "html"])
def test_file_names_in_any_script_keep_their_letters(prog, kind):
    files = [("Отчёт.txt", b"report\r\n"), ("Фото.jpg", b"\xff\xd8photo"), ("Ελληνικά.pdf", b"%PDF")]
    if kind == "plain":
        lines = ['<MESSAGE CONTENT="Plain text, every letter in iso-8859-1.">']
        names = ["Отчёт.txt", "Ελληνικά.pdf"]
    else:
        files.append(("mail.html", '<p>Hello</p>\r\n<img src="Фото.jpg">\r\n'.encode()))
        lines = ["<EMAIL TYPE=HTML>", '<TEMPLATE FILE="mail.html">']
        names = ["Фото.jpg", "Ελληνικά.pdf"]
    attachments = [f'<ATTACHMENT FILE="{n}">' for n in names if n != "Фото.jpg"]
    mail = deliver(prog, '<TO EMAIL="bob@example.org">', '<SUBJECT CONTENT="Files">', *lines, *attachments,
                   files=files)
    parts = named_parts(mail.message)
    assert sorted(parts) == sorted(names)
    for name in names:
        assert parts[name].get_payload(decode=True) == dict(files)[name]


@pytest.mark.parametrize("accent", ["", "é"])
def test_memo_lines_keep_their_blanks(prog, accent):
    memo = ["Volume    Size   Free", "  C:      120 GB  40 GB", "\tD:\t840 GB", "Total  ", "",
            f"Regards{accent}", "-- ", "  Backup Server"]
    mail = deliver(prog, '<TO EMAIL="bob@example.org">', '<SUBJECT CONTENT="Disks">',
                   "<MEMO>", *[m for m in memo if m], "<ENDMEMO>")
    msg = mail.message
    # Plain ASCII still goes as 7bit, lines as they were written.
    assert msg["Content-Transfer-Encoding"] == (None if not accent else "quoted-printable")
    assert text_of(msg) == "\n".join(m for m in memo if m) + "\n\n"


def test_image_tag_keeps_what_was_written(prog):
    tag = ('<img alt="Company logo" src="logo.png" class="hero Banner" '
           'style="width:100px; border:0">')

    class Images(HTMLParser):
        found = []

        def handle_starttag(self, name, attrs):
            if name == "img":
                self.found.append(dict(attrs))

    mail = deliver(prog, '<TO EMAIL="bob@example.org">', '<SUBJECT CONTENT="Logo">', "<EMAIL TYPE=HTML>",
                   '<TEMPLATE FILE="mail.html">',
                   files=[("mail.html", f"<p>Hi</p>\r\n{tag}\r\n"), ("logo.png", b"\x89PNG")])
    html = next(p for p in mail.message.walk() if p.get_content_type() == "text/html")
    assert text_of(html).split("\n")[1] == tag.replace("logo.png", "cid:IMAGE1")
    parser = Images()
    parser.feed(text_of(html))
    assert parser.found == [{"alt": "Company logo", "src": "cid:IMAGE1", "class": "hero Banner",
                             "style": "width:100px; border:0"}]
    assert named_parts(mail.message)["logo.png"]["Content-ID"] == "<IMAGE1>"


def test_folded_headers_read_back_unchanged(prog):
    subject = ("A rather long subject line that goes on and on,  with two blanks here, so that "
               "it must be folded somewhere, maybe twice, before it comes to its end")
    names = ["quarterly report for the board of directors, final version with appendix v2.bin",
             "quarterly_report_for_the_board_of_directors_final_version_v2_with_appendix.bin"]
    display = "Ann Lee-Smythe, Head of the Department of Long Display Names and Folding"
    mail = deliver(prog, f'<TO NAME="{display}" EMAIL="ann@example.org">',
                   '<TO NAME="Bob" EMAIL="bob@example.org">', f'<SUBJECT CONTENT="{subject}">',
                   '<MESSAGE CONTENT="x">', *[f'<ATTACHMENT FILE="{n}">' for n in names],
                   files=[(n, b"data") for n in names])
    msg = mail.message
    assert msg["Subject"] == subject
    assert addresses(msg["To"]) == [(display, "ann@example.org"), ("Bob", "bob@example.org")]
    assert sorted(named_parts(msg)) == sorted(names)
    # The header lines are still folded where that changes nothing.
    header = mail.raw.split(b"\r\n\r\n")[0].decode()
    subject_lines = header[header.index("Subject:"):].split("\r\n")
    assert len(subject_lines[0]) <= 76 and subject_lines[1].startswith(" ")


def test_quotes_and_backslashes_in_file_names_and_display_names(prog):
    names = ['say "hi".txt', "back\\slash.txt", "ends in\\"]
    mail = deliver(prog, '<TO NAME=\'Ann "the boss" Lee\' EMAIL="ann@example.org">',
                   '<TO NAME="Bob\\" EMAIL="bob@example.org">', '<TO EMAIL="carl@example.org">',
                   '<CC NAME="C:\\Users\\dave" EMAIL="dave@example.org">',
                   '<SUBJECT CONTENT="Quotes">', '<MESSAGE CONTENT="x">',
                   *[f"<ATTACHMENT FILE='{n}'>" for n in names], files=[(n, n.encode()) for n in names])
    msg = mail.message
    assert addresses(msg["To"]) == [('Ann "the boss" Lee', "ann@example.org"), ("Bob\\", "bob@example.org"),
                                    ("", "carl@example.org")]
    assert addresses(msg["Cc"]) == [("C:\\Users\\dave", "dave@example.org")]
    assert mail.rcpt_tos == ["ann@example.org", "bob@example.org", "carl@example.org", "dave@example.org"]
    parts = named_parts(msg)
    assert sorted(parts) == sorted(names)
    for name in names:
        assert parts[name].get_payload(decode=True) == name.encode()


@pytest.mark.parametrize("length, encoding", [(998, None), (999, "quoted-printable"),
                                              (5000, "quoted-printable")])
def test_long_body_lines_arrive_whole(prog, length, encoding):
    words = ("word " * length)[:length - 1] + "."
    dotted = "." + "x" * 997
    mail = deliver(prog, '<TO EMAIL="bob@example.org">', '<SUBJECT CONTENT="Long">',
                   f'<MESSAGE CONTENT="{words}">', '<MESSAGE CONTENT="short">',
                   *([f'<MESSAGE CONTENT="{dotted}">'] if encoding else []))
    msg = mail.message
    assert msg["Content-Transfer-Encoding"] == encoding
    assert text_of(msg).rstrip("\n").split("\n") == [words, "short"] + ([dotted] if encoding else [])


def test_apostrophes_in_addresses_quote_nothing(prog):
    mail = deliver(prog, '<TO EMAIL="o\'neil@example.org;d\'angelo@example.org">', '<TO EMAIL="carl@example.org">',
                   '<CC NAME="Pat O\'Brien" EMAIL="pat@example.org">', '<CC EMAIL="e\'f@example.org">',
                   '<SUBJECT CONTENT="Apostrophes">', '<MESSAGE CONTENT="x">')
    msg = mail.message
    to = [("", "o'neil@example.org"), ("", "d'angelo@example.org"), ("", "carl@example.org")]
    cc = [("Pat O'Brien", "pat@example.org"), ("", "e'f@example.org")]
    assert addresses(msg["To"]) == to
    assert addresses(msg["Cc"]) == cc
    assert mail.rcpt_tos == [a for _, a in to + cc]
