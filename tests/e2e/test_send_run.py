"""A job script delivered end to end: envelope, parsed message, process log
and log file, job-script deletion, missing attachments, server override."""
import os

import pytest

from examplejobs import deliver_example
from mailjobs import (SENT, VERSION_LINE, assert_texts, dialogue, echo, job, log_file_texts,
                      png, stat_texts, text_of)
from smtpservers import RecordingServer, free_port

PLAIN_JOB = job(
    "# nightly report",
    '<FROM NAME="Backup Server" EMAIL="backup@example.org">',
    '<TO NAME="Ann Lee" EMAIL="ann@example.org">',
    '<TO EMAIL="ops@example.org">',
    '<CC EMAIL="boss@example.org">',
    '<BCC EMAIL="audit@example.org">',
    '<SUBJECT CONTENT="Backup finished">',
    '<MESSAGE CONTENT="The nightly backup has finished.">',
    "<MEMO>",
    "Volumes: 3",
    "  C: 120 GB",
    "<ENDMEMO>",
)
PLAIN_FROM = '"Backup Server" <backup@example.org>'
PLAIN_TO = '"Ann Lee" <ann@example.org>; <ops@example.org>'
PLAIN_RCPTS = ["ann@example.org", "ops@example.org", "boss@example.org", "audit@example.org"]
# Memo lines arrive as written, leading blanks included.
PLAIN_BODY = "The nightly backup has finished.\nVolumes: 3\n  C: 120 GB"


def addresses(header):
    return [(a.display_name, a.addr_spec) for a in header.addresses]


def send(prog, server, job_bytes, *args, **settings):
    prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, **settings)
    prog.write("job.txt", job_bytes)
    return prog.run("job.txt", "/NOERROR", *args)


def test_plain_job_envelope_headers_and_body(prog):
    with RecordingServer() as server:
        r = send(prog, server, PLAIN_JOB)
    assert r.returncode == 0, r.stderr
    assert len(server.received) == 1
    mail = server.received[0]
    assert mail.mail_from == "backup@example.org"
    assert mail.rcpt_tos == PLAIN_RCPTS
    msg = mail.message
    assert addresses(msg["From"]) == [("Backup Server", "backup@example.org")]
    assert addresses(msg["To"]) == [("Ann Lee", "ann@example.org"), ("", "ops@example.org")]
    assert addresses(msg["Cc"]) == [("", "boss@example.org")]
    assert "Bcc" not in msg
    assert b"audit@example.org" not in mail.raw
    assert msg["Subject"] == "Backup finished"
    assert msg["X-Mailer"] == "PLONEMAIL Ver. 3.36b"
    assert msg["Mime-Version"] == "1.0"
    assert msg["Date"].datetime is not None
    assert msg.get_content_type() == "text/plain"
    assert text_of(msg).rstrip("\n") == PLAIN_BODY


def test_process_log_and_log_file_hold_the_whole_dialogue_in_order(prog):
    with RecordingServer() as server:
        r = send(prog, server, PLAIN_JOB, "/STAT", "/LOG", "run.log")
    assert r.returncode == 0, r.stderr
    expected = (echo("127.0.0.1", PLAIN_FROM, PLAIN_TO, "Backup finished")
                + dialogue("backup@example.org", PLAIN_RCPTS) + [SENT])
    assert_texts(stat_texts(r.stdout), expected)
    assert_texts(log_file_texts(prog, "run.log"), expected)
    assert not os.path.exists(prog.file("plonemail.log"))
    assert "The EMAIL has been Sent" in r.stderr.decode()


@pytest.mark.parametrize("args, kept", [((), False), (("/NODEL",), True), (("/nodel",), True)])
def test_job_script_deleted_unless_nodel(prog, args, kept):
    with RecordingServer() as server:
        r = send(prog, server, PLAIN_JOB, *args)
    assert r.returncode == 0, r.stderr
    assert len(server.received) == 1
    assert os.path.exists(prog.file("job.txt")) == kept


@pytest.mark.parametrize("settings, last_lines, code", [
    pytest.param({"Auth": 9}, ["Invalid setting Auth=9 (allowed: 0 to 8)"], 2, id="Auth"),
    pytest.param({"SSLType": 5}, ["Invalid setting SSLType=5 (allowed: 0 to 2)"], 2, id="SSLType"),
    pytest.param({"CodePage": "klingon"}, ["Invalid setting CodePage=klingon (unknown character set)"], 2,
                 id="CodePage"),
    # A job script that exists but cannot be read.
    pytest.param({}, ["Error: job script job.txt cannot be read: Input/output error", "End with errors."], 1,
                 id="unreadable"),
])
def test_job_script_is_kept_when_the_run_is_refused_before_sending(prog, settings, last_lines, code):
    with RecordingServer() as server:
        prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, **settings)
        if settings:
            prog.write("job.txt", PLAIN_JOB)
        else:
            os.symlink("/proc/self/mem", prog.file("job.txt"))  # opens, and every read fails
        r = prog.run("job.txt", "/NOERROR")
    assert r.returncode == code, r.stderr
    assert server.received == []
    assert log_file_texts(prog)[-len(last_lines):] == last_lines
    assert os.path.lexists(prog.file("job.txt"))


# The settings' From is the envelope sender whatever the job says, and the
# header's address when the job gives none.
@pytest.mark.parametrize("from_tag, header", [
    pytest.param(None, [("", "desk@example.org")], id="no FROM"),
    pytest.param('<FROM NAME="Help Desk">', [("Help Desk", "desk@example.org")], id="FROM NAME"),
    pytest.param('<FROM NAME="Help Desk" EMAIL="job@example.org">', [("Help Desk", "job@example.org")],
                 id="FROM NAME EMAIL"),
])
def test_settings_from_is_the_sender(prog, from_tag, header):
    lines = ['<TO EMAIL="ann@example.org">', '<SUBJECT CONTENT="Hello">', '<MESSAGE CONTENT="Hi">']
    with RecordingServer() as server:
        r = send(prog, server, job(*([from_tag] if from_tag else []), *lines), From="desk@example.org")
    assert r.returncode == 0, r.stderr
    mail = server.received[0]
    assert mail.mail_from == "desk@example.org"
    assert addresses(mail.message["From"]) == header


def test_cfgemail_override_is_checked_with_the_settings(prog):
    # The job's own server values count: a valid AUTHTYPE replaces an
    # out-of-range setting before anything is refused or deleted.
    with RecordingServer() as server:
        prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, Auth=9)
        prog.write("job.txt", PLAIN_JOB + job("<CFGEMAIL AUTHTYPE=NONE>"))
        r = prog.run("job.txt", "/NOERROR")
    assert r.returncode == 0, r.stderr
    assert len(server.received) == 1
    assert not os.path.exists(prog.file("job.txt"))


def test_missing_attachment_is_logged_and_the_mail_still_goes(prog):
    prog.write("notes.txt", b"line one\r\nline two\r\n")
    extra = job('<ATTACHMENT FILE="missing.pdf">', '<ATTACHMENT FILE="notes.txt">')
    with RecordingServer() as server:
        r = send(prog, server, PLAIN_JOB + extra)
    assert r.returncode == 0, r.stderr
    texts = log_file_texts(prog)
    assert "File: missing.pdf Does not exist" in texts
    assert texts.index("File: missing.pdf Does not exist") < texts.index(VERSION_LINE)
    assert texts[-1] == SENT
    msg = server.received[0].message
    assert msg.get_content_type() == "multipart/mixed"
    text, attachment = msg.get_payload()
    assert text_of(text).rstrip("\n") == PLAIN_BODY
    assert attachment.get_content_disposition() == "attachment"
    assert attachment.get_filename() == "notes.txt"
    assert attachment.get_payload(decode=True) == b"line one\r\nline two\r\n"


def test_cfgemail_overrides_settings_that_point_at_a_dead_server(prog):
    with RecordingServer() as server:
        prog.settings(Host="dead.invalid", Port=free_port(), SaveLog=1, Timeout=10)
        override = job(f'<CFGEMAIL HOST="127.0.0.1" PORT="{server.port}">')
        prog.write("job.txt", PLAIN_JOB + override)
        r = prog.run("job.txt", "/NOERROR")
    assert r.returncode == 0, r.stderr
    assert len(server.received) == 1
    assert server.received[0].rcpt_tos == PLAIN_RCPTS
    texts = log_file_texts(prog)
    assert "Host: 127.0.0.1" in texts and texts[-1] == SENT


TEMPLATE = [
    "<html><body>",
    '<img src="logo.png" alt="logo">',
    "<p>Hello <?NAME?>,</p>",
    "<table>",
    "<!--?BLOCK ROW?-->",
    "<tr><td><?ITEM?></td><td><?PRICE?></td></tr>",
    "<!--?ENDBLOCK?-->",
    "<!--?PASTE ROWS?-->",
    "</table>",
    '<img src="chart.png">',
    "<p>Total: <?TOTAL?></p>",
    "</body></html>",
]

HTML_JOB = job(
    '<FROM NAME="Shop" EMAIL="shop@example.org">',
    '<TO NAME="Ann Lee" EMAIL="ann@example.org">',
    '<SUBJECT CONTENT="Your invoice">',
    "<EMAIL TYPE=HTML>",
    '<TEMPLATE FILE="tpl/invoice.html">',
    '<VAR ITEM = "Tea">', '<VAR PRICE = "3.50">', "<BLOCK ROW ROWS>",
    '<VAR ITEM = "Cake">', '<VAR PRICE = "2.00">', "<BLOCK ROW ROWS>",
    '<VAR ITEM = "Jam">', '<VAR PRICE = "4.25">', "<BLOCK ROW ROWS>",
    '<VAR NAME = "Ann">',
    '<VAR TOTAL = "9.75">',
    '<ATTACHMENT FILE="terms.txt">',
)


def test_html_job_with_template_block_images_and_attachment(prog):
    # The logo lies beside the template, the chart in the current folder.
    os.mkdir(prog.file("tpl"))
    prog.write("tpl/invoice.html", "\r\n".join(TEMPLATE) + "\r\n")
    logo, chart, terms = png(4, 3), png(2, 2, (0, 120, 0)), b"Payable within 30 days.\r\n"
    prog.write("tpl/logo.png", logo)
    prog.write("chart.png", chart)
    prog.write("terms.txt", terms)
    with RecordingServer() as server:
        r = send(prog, server, HTML_JOB)
    assert r.returncode == 0, r.stderr
    assert not [t for t in log_file_texts(prog) if "Does not exist" in t]
    mail = server.received[0]
    assert mail.rcpt_tos == ["ann@example.org"]
    msg = mail.message
    assert msg["Subject"] == "Your invoice"
    assert msg.get_content_type() == "multipart/mixed"

    related, attachment = msg.get_payload()
    assert related.get_content_type() == "multipart/related"
    alternative, *images = related.get_payload()
    assert alternative.get_content_type() == "multipart/alternative"
    plain, html = alternative.get_payload()
    assert plain.get_content_type() == "text/plain"
    assert html.get_content_type() == "text/html"

    # The image tags keep what was written; only their SRC names the part.
    assert text_of(html).rstrip("\n").split("\n") == [
        "<html><body>",
        '<img src="cid:IMAGE1" alt="logo">',
        "<p>Hello Ann,</p>",
        "<table>",
        "<tr><td>Tea</td><td>3.50</td></tr>",
        "<tr><td>Cake</td><td>2.00</td></tr>",
        "<tr><td>Jam</td><td>4.25</td></tr>",
        "</table>",
        '<img src="cid:IMAGE2">',
        "<p>Total: 9.75</p>",
        "</body></html>",
    ]

    assert [(i["Content-ID"], i.get_content_disposition(), i.get_filename(), i.get_payload(decode=True))
            for i in images] == [("<IMAGE1>", "inline", "logo.png", logo),
                                 ("<IMAGE2>", "inline", "chart.png", chart)]
    assert attachment.get_content_disposition() == "attachment"
    assert attachment.get_filename() == "terms.txt"
    assert attachment["X-File-ID"] == "<FILE1>"
    assert attachment.get_payload(decode=True) == terms


@pytest.mark.parametrize("name, recipients, files, body_type, texts", [
    ("plain.job",
     ["ann@example.org", "ops@example.org", "night@example.org", "boss@example.org"],
     ["price-list.txt"], "text/plain", ["The nightly backup has finished.", "D: 840 GB"]),
    ("newsletter.job",
     ["ann@example.org", "orders@example.org", "archive@example.org"],
     ["logo.png", "price-list.txt"], "text/html",
     ["Dear Ann,", "Green tea, 100 g", "Lemon cake", "Orange jam, 250 g", "Valid until Sunday."]),
])
def test_example_jobs_are_delivered(prog, name, recipients, files, body_type, texts):
    mail = deliver_example(prog, name)
    assert mail.rcpt_tos == recipients
    parts = list(mail.message.walk())
    assert [p.get_filename() for p in parts if p.get_filename()] == files
    content = text_of(next(p for p in parts if p.get_content_type() == body_type))
    positions = [content.find(t) for t in texts]
    assert -1 not in positions and positions == sorted(positions), content
    assert "<?" not in content and "<!--?" not in content
