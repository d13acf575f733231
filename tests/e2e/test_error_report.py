"""The error report of /LOGEMAIL: a failed delivery mails its step and error
texts to the given address through the same server and account."""
import time

import pytest

from authservers import AuthServer
from conftest import scrambled
from mailjobs import SENT, failure_lines, job, log_file_texts, text_lines
from smtpservers import RecordingServer, free_port

JOB = job(
    '<FROM NAME="Backup Server" EMAIL="backup@example.org">',
    '<TO NAME="Ann Lee" EMAIL="ann@example.org">',
    '<TO EMAIL="ops@example.org">',
    '<SUBJECT CONTENT="Backup finished">',
    '<MESSAGE CONTENT="The nightly backup has finished.">',
)
FROM = '"Backup Server" <backup@example.org>'
TO = '"Ann Lee" <ann@example.org>; <ops@example.org>'
ADMIN = "admin@example.org"
REPORT_SENT = "LogEmail sended!"


def run_job(prog, port, *args, host="127.0.0.1", **settings):
    # DataTimeout too: a stalled reply to the message's end is one of the cases.
    prog.settings(Host=host, Port=port, SaveLog=1, Timeout=2, DataTimeout=2, **settings)
    prog.write("job.txt", JOB)
    return prog.run("job.txt", "/NOERROR", *args, timeout=60)


def report_lines(step_text, message):
    """The body of a report (the English texts), as text_lines gives it."""
    return ["Error on Send Email", "", f"From: {FROM}", f"To: {TO}", "Subject: Backup finished", "",
            f"Message: {message}".rstrip(), "", f"Program: {step_text}"]


def assert_report(received, step_text, message):
    assert received.mail_from == "backup@example.org"
    assert received.rcpt_tos == [ADMIN]
    msg = received.message
    assert msg["Subject"] == "Error sending Email"
    assert msg["To"].addresses[0].addr_spec == ADMIN
    sender = msg["From"].addresses[0]
    assert (sender.display_name, sender.addr_spec) == ("Backup Server", "backup@example.org")
    assert msg["X-Mailer"] == "PLONEMAIL Ver. 3.36b"
    assert msg.get_content_type() == "text/plain"
    assert text_lines(msg) == report_lines(step_text, message)


def test_refused_recipient_is_reported_to_an_accepted_address(prog):
    with RecordingServer(refuse_rcpt={"ops@example.org"}) as server:
        r = run_job(prog, server.port, "/LOGEMAIL", ADMIN)
    texts = log_file_texts(prog)
    assert r.returncode == 1, r.stderr
    assert len(server.received) == 1  # the report only
    step = "Error sending Email, Step: 4 Error: 550"
    assert failure_lines(texts) == (step, "550 5.1.1 mailbox unavailable")
    assert_report(server.received[0], step, "550 5.1.1 mailbox unavailable")
    # The report's dialogue stays out of the log; its outcome comes last.
    assert texts[-1] == REPORT_SENT and texts.count("QUIT") == 0


def test_refused_connection_shows_both_failures(prog):
    r = run_job(prog, free_port(), "/LOGEMAIL", ADMIN)
    texts = log_file_texts(prog)
    assert r.returncode == 1
    step = texts.index("Error sending Email, Step: 0 Error: 10061")
    assert texts[step + 2] == "Error sending Log, Step: 0 Error: 10061"
    assert texts[step + 3].startswith("Error on Send LogEmail: ")
    assert REPORT_SENT not in texts


@pytest.mark.parametrize("command, step", [("HELO", 1), ("DATA", 5)])
def test_report_of_a_time_out_has_no_server_message(prog, command, step):
    # The job's command goes unanswered; the report's is answered.
    with RecordingServer(stall={command: {1}}) as server:
        r = run_job(prog, server.port, "/LOGEMAIL", ADMIN)
    texts = log_file_texts(prog)
    assert r.returncode == 1
    step_text = f"Error sending Email, Step: {step} Error: 10060"
    assert failure_lines(texts) == (step_text, "Error: no response from server within 2 seconds")
    assert len(server.received) == 1  # the report only
    assert_report(server.received[0], step_text, "")
    assert texts[-1] == REPORT_SENT


def test_report_that_times_out_ends_the_program(prog):
    with RecordingServer(refuse_rcpt={"ops@example.org"}, stall={"HELO": {2}}) as server:
        start = time.monotonic()
        r = run_job(prog, server.port, "/LOGEMAIL", ADMIN)
        elapsed = time.monotonic() - start
    texts = log_file_texts(prog)
    assert r.returncode == 1
    assert server.received == []
    assert texts[-2:] == ["Error sending Log, Step: 1 Error: 10060",
                          "Error on Send LogEmail: no response from server within 2 seconds"]
    assert 1.9 <= elapsed < 15, elapsed


def test_report_authenticates_with_the_same_account(prog):
    with AuthServer("mailer", "s3cret pass") as server:
        server.handler.refuse_rcpt.add("ops@example.org")
        r = run_job(prog, server.port, "/LOGEMAIL", ADMIN, Auth=1, Username="mailer",
                    Password=scrambled("s3cret pass"), From="robot@example.org")
    texts = log_file_texts(prog)
    assert r.returncode == 1
    assert failure_lines(texts)[0] == "Error sending Email, Step: 4 Error: 550"
    # Both mails signed in; the server takes mail only after AUTH.
    assert server.tried == ["PLAIN", "PLAIN"]
    assert server.logins == [b"mailer"]
    assert len(server.received) == 1
    # With authentication the envelope sender is the From setting.
    assert server.received[0].mail_from == "robot@example.org"
    assert server.received[0].rcpt_tos == [ADMIN]
    assert texts[-1] == REPORT_SENT


@pytest.mark.parametrize("case", ["sent", "not started", "no address"])
def test_no_report(prog, case):
    with RecordingServer() as server:
        if case == "sent":
            r = run_job(prog, server.port, "/LOGEMAIL", ADMIN)
        elif case == "not started":
            r = run_job(prog, server.port, "/LOGEMAIL", ADMIN, host="")
        else:
            r = run_job(prog, free_port(), "/LOGEMAIL")
    texts = log_file_texts(prog)
    report = [t for t in texts if "LogEmail" in t or "Sending Log" in t]
    if case == "sent":
        assert r.returncode == 0 and texts[-1] == SENT
        assert len(server.received) == 1 and report == []
    elif case == "not started":
        assert r.returncode == 1 and texts[-1] == "End with errors."
        assert server.received == [] and report == []
    else:
        assert r.returncode == 1
        assert report == ["Error on Send LogEmail: /LOGEMAIL gives no address"]
