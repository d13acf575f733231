"""The end of a delivery: the reply to the final "." and QUIT. Once the
server has accepted the message the mail is sent, whatever QUIT does; every
wait on the way is bounded."""
import time

import pytest

from mailjobs import SENT, failure_lines, job, log_file_texts
from smtpservers import ScriptedServer

JOB = job(
    '<FROM EMAIL="backup@example.org">',
    '<TO EMAIL="ann@example.org">',
    '<SUBJECT CONTENT="Backup finished">',
    '<MESSAGE CONTENT="The nightly backup has finished.">',
)


def script(helo="250 hello", end_of_data="250 accepted", quit="221 bye"):
    """Replies of a plain session; each may also be a function, called when
    its command arrives, that returns the reply or an iterable of lines."""
    def answer(reply):
        return reply() if callable(reply) else reply

    def replies(line):
        if line == "<END OF DATA>":
            return answer(end_of_data)
        if line == "<DATA LINE>":
            return None
        command = line.split(" ")[0].upper()
        if command == "HELO":
            return answer(helo)
        if command == "DATA":
            return "354 go ahead"
        if command == "QUIT":
            return answer(quit)
        return "250 OK"
    return replies


def deliver(prog, replies, **settings):
    with ScriptedServer(replies=replies) as server:
        prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, **settings)
        prog.write("job.txt", JOB)
        r = prog.run("job.txt", "/NOERROR", "/STAT", timeout=40)
    return r, server, log_file_texts(prog)


@pytest.mark.parametrize("quit, line", [
    pytest.param("500 5.5.1 command unrecognized",
                 "QUIT not completed (Error: 500), the mail was accepted before it", id="refused"),
    pytest.param(None, "No reply to QUIT within 2 seconds, the mail was accepted before it", id="unanswered"),
    pytest.param("221 bye", "The server did not close the connection within 2 seconds after QUIT; closed",
                 id="left open"),
])
def test_mail_accepted_before_a_failing_quit_counts_as_sent(prog, quit, line):
    r, server, texts = deliver(prog, script(quit=quit), Timeout=2)
    assert r.returncode == 0, texts
    assert "Subject: Backup finished" in server.lines and "QUIT" in server.lines
    assert texts[texts.index("QUIT") + 1:] == [t for t in (quit, line, SENT) if t is not None]
    assert not [t for t in texts if t.startswith("Error sending Email")]
    assert "ERROR No Email Sent" not in r.stderr.decode()


def test_reply_to_the_final_dot_may_take_longer_than_the_timeout(prog):
    def slow():
        time.sleep(2.5)
        return "250 accepted after a content scan"

    r, server, texts = deliver(prog, script(end_of_data=slow), Timeout=1, DataTimeout=6)
    assert r.returncode == 0, texts
    assert "250 accepted after a content scan" in texts and texts[-1] == SENT


def trickle():
    """Continuation lines, one every 0.3 seconds, never the last line (until
    the client hangs up, or a minute has passed)."""
    for _ in range(200):
        time.sleep(0.3)
        yield "250-still working"


@pytest.mark.parametrize("replies, step, limit", [
    pytest.param(script(helo=trickle), 1, 2, id="HELO reply"),
    pytest.param(script(end_of_data=trickle), 5, 3, id="reply to the final dot"),
])
def test_a_reply_that_never_ends_is_given_up_after_its_limit(prog, replies, step, limit):
    r, server, texts = deliver(prog, replies, Timeout=2, DataTimeout=3)
    assert r.returncode == 1, texts
    assert "250-still working" in texts
    assert failure_lines(texts) == (f"Error sending Email, Step: {step} Error: 10060",
                                    f"Error: no response from server within {limit} seconds")


def test_unanswered_final_dot_is_given_up_after_the_data_timeout(prog):
    r, server, texts = deliver(prog, script(end_of_data=None), Timeout=1, DataTimeout=2)
    assert r.returncode == 1, texts
    assert failure_lines(texts) == ("Error sending Email, Step: 5 Error: 10060",
                                    "Error: no response from server within 2 seconds")
