"""TLS end to end against aiosmtpd with a certificate made for the test:
implicit TLS and STARTTLS (with and without AUTH) deliver encrypted; a
server without STARTTLS, a plain-text server, a refused certificate and a
handshake that never ends fail with their texts, and nothing goes out in
clear after the greeting and EHLO. (A handshake that never ends is among
the silent servers of test_send_failures.)"""
import re
import time

import pytest

from conftest import scrambled
from mailjobs import CONNECTING, SENT, assert_texts, failure_lines, job, log_file_texts
from smtpservers import RecordingServer, ScriptedServer
from tlsservers import TlsServer, make_certificate

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")

JOB = job('<FROM EMAIL="backup@example.org">', '<TO EMAIL="ann@example.org">',
          '<SUBJECT CONTENT="Sent encrypted">', '<MESSAGE CONTENT="Nobody read this on the way.">')
USER = "mailer"
PASSWORD = "S3cret-pass!42"
HANDSHAKE_OK = re.compile(r"SSL Connected OK with TLSv1\.[23], cipher .*")


@pytest.fixture
def cert(tmp_path):
    return make_certificate(str(tmp_path))


def send(prog, port, timeout=10, **settings):
    prog.settings(Host="127.0.0.1", Port=port, SaveLog=1, Timeout=timeout, **settings)
    prog.write("job.txt", JOB)
    return prog.run("job.txt", "/NOERROR")


def assert_delivered(r, server, texts):
    assert r.returncode == 0, (r.stderr, texts)
    assert texts[-1] == SENT
    assert server.encrypted == [True]
    [mail] = server.received
    assert mail.mail_from == "backup@example.org"
    assert mail.rcpt_tos == ["ann@example.org"]
    assert mail.message["Subject"] == "Sent encrypted"
    assert mail.message.get_content().strip() == "Nobody read this on the way."


def assert_failed(r, texts):
    assert r.returncode == 1, (r.stderr, texts)
    assert SENT not in texts


def commands(texts):
    return [t.split()[0] for t in texts if re.match(r"(EHLO|HELO|STARTTLS|AUTH|MAIL|RCPT|DATA|QUIT)\b", t)]


def test_implicit_tls_from_the_first_byte(prog, cert):
    with TlsServer(*cert, implicit=True) as server:
        r = send(prog, server.port, UseSSL=1, SSLType=1)
    texts = log_file_texts(prog)
    assert_delivered(r, server, texts)
    # The greeting came over TLS: the session is the plain one.
    start = texts.index(CONNECTING) + 1
    assert_texts(texts[start:start + 3], [re.compile(r"220 .*"), re.compile(r"HELO \S+"), re.compile(r"250 .*")])
    assert commands(texts) == ["HELO", "MAIL", "RCPT", "DATA", "QUIT"]


# The server lists AUTH only over TLS: with the automatic choice the client
# goes straight to PLAIN only when the second EHLO's list replaced the first.
@pytest.mark.parametrize("auth", [1, 6], ids=["plain", "automatic"])
def test_starttls_then_auth(prog, cert, auth):
    with TlsServer(*cert, implicit=False, user=USER, password=PASSWORD) as server:
        r = send(prog, server.port, UseSSL=1, SSLType=2, Auth=auth, Username=USER, Password=scrambled(PASSWORD))
    texts = log_file_texts(prog)
    assert_delivered(r, server, texts)
    assert server.tls_at_auth == [True]
    assert commands(texts) == ["EHLO", "STARTTLS", "EHLO", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"]
    assert texts[texts.index("STARTTLS") + 1].startswith("220 ")
    assert [t for t in texts if t.startswith("AUTH")] == ["AUTH PLAIN ****"]


def test_starttls_without_auth(prog, cert):
    with TlsServer(*cert, implicit=False) as server:
        r = send(prog, server.port, UseSSL=1, SSLType=2)
    texts = log_file_texts(prog)
    assert_delivered(r, server, texts)
    # EHLO even without authentication, and again over TLS.
    assert commands(texts) == ["EHLO", "STARTTLS", "EHLO", "MAIL", "RCPT", "DATA", "QUIT"]


def test_server_without_starttls_gets_nothing_after_ehlo(prog):
    with ScriptedServer(replies=lambda line: "250-scripted\r\n250 AUTH PLAIN" if line.startswith("EHLO")
                        else "250 OK") as server:
        r = send(prog, server.port, UseSSL=1, SSLType=2, Auth=1, Username=USER, Password=scrambled(PASSWORD))
        time.sleep(0.2)
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert [line.split()[0] for line in server.lines] == ["EHLO"]
    assert failure_lines(texts) == ("Error sending Email, Step: 12 Error: 500", "500 STARTTLS is not available.")


def test_implicit_tls_against_a_plain_server(prog):
    with RecordingServer() as server:
        r = send(prog, server.port, UseSSL=1, SSLType=1)
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert server.received == []
    step, error = failure_lines(texts)
    assert step == "Error sending Email, Step: 0 Error: 500"
    assert error.startswith("SSL handshake failed - "), error


@pytest.mark.parametrize("trust, names, addresses, reason", [
    (False, ("localhost",), ("127.0.0.1",), "self-signed certificate"),
    (True, ("mail.example.org",), (), "IP address mismatch"),
], ids=["untrusted", "other-name"])
def test_verify_peer_refuses(prog, tmp_path, trust, names, addresses, reason):
    cert = make_certificate(str(tmp_path), dns_names=names, addresses=addresses)
    settings = dict(UseSSL=1, SSLType=1, VerifyPeer=1)
    if trust:
        settings["CAFile"] = cert[0]
    with TlsServer(*cert, implicit=True) as server:
        r = send(prog, server.port, **settings)
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert server.received == []
    step, error = failure_lines(texts)
    assert step == "Error sending Email, Step: 0 Error: 500"
    assert error.startswith("SSL handshake failed - ") and "certificate verify failed" in error, error
    assert reason in error, error


@pytest.mark.parametrize("ssl_type", [1, 2])
def test_verify_peer_accepts_the_certificate_of_cafile(prog, cert, ssl_type):
    # A bare name is taken beside the program, where the test made it.
    with TlsServer(*cert, implicit=ssl_type == 1) as server:
        r = send(prog, server.port, UseSSL=1, SSLType=ssl_type, VerifyPeer=1, CAFile="server.pem")
    texts = log_file_texts(prog)
    assert_delivered(r, server, texts)


# The error report goes the same way as the mail it reports: STARTTLS, then
# AUTH with the same account, encrypted.
def test_error_report_over_starttls_with_auth(prog, cert):
    with TlsServer(*cert, implicit=False, user=USER, password=PASSWORD,
                   refuse_rcpt={"ann@example.org"}) as server:
        prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, UseSSL=1, SSLType=2,
                      Auth=1, Username=USER, Password=scrambled(PASSWORD), From="backup@example.org")
        prog.write("job.txt", JOB)
        r = prog.run("job.txt", "/NOERROR", "/LOGEMAIL", "admin@example.org")
    texts = log_file_texts(prog)
    assert_failed(r, texts)
    assert failure_lines(texts)[0] == "Error sending Email, Step: 4 Error: 550"
    assert texts[-1] == "LogEmail sended!"
    [report] = server.received
    assert report.rcpt_tos == ["admin@example.org"]
    assert report.message["Subject"] == "Error sending Email"
    assert server.encrypted == [True]
    assert server.tls_at_auth == [True, True]
