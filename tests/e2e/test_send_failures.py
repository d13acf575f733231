"""Failed send runs: the step and error texts in the process log, no mail
delivered, a non-zero exit, and every wait ended by the time limit."""
import os
import time

import pytest

from mailjobs import SENT, echo, failure_lines, job, log_file_texts
from smtpservers import UNRESOLVABLE_HOST, RecordingServer, ScriptedServer, free_port

JOB = job(
    '<FROM NAME="Backup Server" EMAIL="backup@example.org">',
    '<TO NAME="Ann Lee" EMAIL="ann@example.org">',
    '<TO EMAIL="ops@example.org">',
    '<CC EMAIL="boss@example.org">',
    '<SUBJECT CONTENT="Backup finished">',
    '<MESSAGE CONTENT="The nightly backup has finished.">',
)
FROM = '"Backup Server" <backup@example.org>'
TO = '"Ann Lee" <ann@example.org>; <ops@example.org>'


def run_job(prog, host, port, job_bytes=JOB, *args, timeout=5, **settings):
    prog.settings(Host=host, Port=port, SaveLog=1, Timeout=timeout, **settings)
    prog.write("job.txt", job_bytes)
    return prog.run("job.txt", "/NOERROR", *args, timeout=60)


def assert_failed(r, texts):
    assert r.returncode == 1, (r.returncode, r.stderr)
    assert SENT not in texts


def test_refused_recipient_ends_at_step_4_with_the_reply(prog):
    with RecordingServer(refuse_rcpt={"ops@example.org"}) as server:
        r = run_job(prog, "127.0.0.1", server.port, JOB, "/STAT")
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert server.received == []
    refused = texts.index("RCPT TO:<ops@example.org>")
    assert texts[refused + 1] == "550 5.1.1 mailbox unavailable"
    assert "RCPT TO:<boss@example.org>" not in texts and "DATA" not in texts
    assert failure_lines(texts) == ("Error sending Email, Step: 4 Error: 550",
                                    "550 5.1.1 mailbox unavailable")
    assert "ERROR No Email Sent" in r.stderr.decode()


def test_refused_connection_ends_at_step_0(prog):
    r = run_job(prog, "127.0.0.1", free_port())
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert texts[:6] == echo("127.0.0.1", FROM, TO, "Backup finished")
    # No server reply says why: the client's own text does.
    assert failure_lines(texts) == ("Error sending Email, Step: 0 Error: 10061",
                                    "500 Connect error - Connection refused (#10061)")
    # The job script goes before anything is sent, whatever the outcome.
    assert not os.path.exists(prog.file("job.txt"))


def test_unknown_host_ends_at_step_0_with_a_lookup_error(prog):
    r = run_job(prog, UNRESOLVABLE_HOST, 25)
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert f"Host: {UNRESOLVABLE_HOST}" in texts
    step = failure_lines(texts)[0]
    assert step.startswith("Error sending Email, Step: 0 Error: ")
    assert 11001 <= int(step.rsplit(" ", 1)[1]) <= 11004


def test_job_without_any_recipient_fails_at_rcpt(prog):
    no_to = job('<FROM EMAIL="backup@example.org">', '<SUBJECT CONTENT="Nobody">',
                '<MESSAGE CONTENT="Lost.">')
    with RecordingServer() as server:
        r = run_job(prog, "127.0.0.1", server.port, no_to)
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert server.received == []
    # A FROM with only EMAIL gives the header " <address>".
    assert texts[:6] == echo("127.0.0.1", " <backup@example.org>", "", "Nobody")
    assert failure_lines(texts)[0].startswith("Error sending Email, Step: 4 Error: ")
    assert "DATA" not in texts


def silent_after_starttls(line):
    """Answers EHLO and STARTTLS, then nothing: neither a command nor a TLS
    handshake gets an answer."""
    if line.startswith("EHLO"):
        return "250-silent\r\n250 STARTTLS"
    if line == "STARTTLS":
        return "220 go ahead"
    return None


@pytest.mark.parametrize("greeting, step, tls", [
    (None, 0, {}),
    ("220 silent ESMTP", 1, {}),
    (None, 0, {"UseSSL": 1, "SSLType": 1}),
    ("220 silent ESMTP", 12, {"UseSSL": 1, "SSLType": 2}),
], ids=["no-greeting", "no-reply", "implicit-tls-handshake", "starttls-handshake"])
def test_silent_server_is_given_up_after_the_time_limit(prog, greeting, step, tls):
    with ScriptedServer(greeting=greeting, replies=silent_after_starttls) as server:
        start = time.monotonic()
        r = run_job(prog, "127.0.0.1", server.port, timeout=2, **tls)
        elapsed = time.monotonic() - start
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert failure_lines(texts) == (f"Error sending Email, Step: {step} Error: 10060",
                                    "Error: no response from server within 2 seconds")
    # Bounded by the limit, not by the test's own time-out.
    assert 1.9 <= elapsed < 15, elapsed


def test_server_closing_during_data_ends_at_step_5(prog):
    def replies(line):
        if line == "<END OF DATA>":
            return "CLOSE"
        if line == "<DATA LINE>":
            return None
        if line.upper() == "DATA":
            return "354 go ahead"
        return "250 OK"

    with ScriptedServer(replies=replies) as server:
        r = run_job(prog, "127.0.0.1", server.port)
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert "DATA" in server.lines and "Subject: Backup finished" in server.lines
    assert failure_lines(texts)[0] == "Error sending Email, Step: 5 Error: 10004"
    assert "QUIT" not in texts


@pytest.mark.parametrize("greeting", ["421 busy, try again later", "554 no SMTP service here"])
def test_refusing_greeting_is_logged_once(prog, greeting):
    with ScriptedServer(greeting=greeting) as server:
        r = run_job(prog, "127.0.0.1", server.port)
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert texts[5:] == ["Connecting to smtp server...", greeting,
                         "Error sending Email, Step: 0 Error: 10004", greeting]
    assert server.lines == []
