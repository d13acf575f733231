"""Authentication end to end: every mechanism against a server that checks
the answers, the automatic choice with its 504 fall-backs, the job's
CFGEMAIL overrides, a wrong password, NTLM without OpenSSL's legacy
provider, and a log that never holds the password."""
import base64
import binascii
import os
import re

import pytest

from authservers import MECHANISMS, AuthServer, desl, lm_hash, md4, nt_hash
from conftest import scrambled
from mailjobs import SENT, failure_lines, job, log_file_texts

# The test servers sign in without TLS on purpose.
pytestmark = pytest.mark.filterwarnings("ignore:Requiring AUTH while not requiring TLS")

USER = "mailer"
PASSWORD = "S3cret-pass!42"
AUTH = {"PLAIN": 1, "LOGIN": 2, "CRAM-MD5": 3, "CRAM-SHA1": 4, "NTLM": 5, "AUTO": 6}
JOB = job('<FROM EMAIL="backup@example.org">', '<TO EMAIL="ann@example.org">',
          '<SUBJECT CONTENT="Signed in">', '<MESSAGE CONTENT="Sent after AUTH.">')


def send(prog, server, auth, password=PASSWORD, job_bytes=JOB, env=None, **settings):
    prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, Auth=auth, Username=USER,
                  Password=scrambled(password), **settings)
    prog.write("job.txt", job_bytes)
    return prog.run("job.txt", "/NOERROR", env=env)


def assert_no_password(prog, password=PASSWORD):
    """Neither the password nor anything Base64 that holds it (PLAIN, LOGIN,
    UTF-16 forms) is in the log file."""
    with open(prog.file("plonemail.log"), "rb") as f:
        data = f.read()
    secrets = [password.encode(), password.encode("utf-16-le")]
    assert not any(s in data for s in secrets)
    for token in re.findall(rb"[A-Za-z0-9+/=]{4,}", data):
        try:
            decoded = base64.b64decode(token + b"=" * (-len(token) % 4), validate=True)
        except binascii.Error:
            continue
        assert not any(s in decoded for s in secrets), token


def auth_lines(texts):
    """The log lines from the first AUTH command to MAIL FROM."""
    start = next(i for i, t in enumerate(texts) if t.startswith("AUTH "))
    end = next(i for i, t in enumerate(texts) if t.startswith("MAIL FROM:"))
    return texts[start:end]


# What the log shows of each exchange: the server's prompts, never the answers.
MASKED = {
    "PLAIN": ["AUTH PLAIN ****", "235 2.7.0 Authentication successful"],
    "LOGIN": ["AUTH LOGIN", re.compile(r"334 \S+"), "****", re.compile(r"334 \S+"), "****",
              "235 2.7.0 Authentication successful"],
    "CRAM-MD5": ["AUTH CRAM-MD5", re.compile(r"334 \S+"), "****", "235 2.7.0 Authentication successful"],
    "CRAM-SHA1": ["AUTH CRAM-SHA1", re.compile(r"334 \S+"), "****", "235 2.7.0 Authentication successful"],
    "NTLM": ["AUTH NTLM ****", re.compile(r"334 \S+"), "****", "235 2.7.0 Authentication successful"],
}


def matches(texts, expected):
    return len(texts) == len(expected) and all(
        e.fullmatch(t) if isinstance(e, re.Pattern) else t == e for t, e in zip(texts, expected))


@pytest.mark.parametrize("mechanism", MECHANISMS)
def test_each_mechanism_signs_in_and_delivers(prog, mechanism):
    with AuthServer(USER, PASSWORD, offered=[mechanism]) as server:
        r = send(prog, server, AUTH[mechanism])
    assert r.returncode == 0, r.stderr
    assert server.tried == [mechanism]
    assert server.logins == [USER.encode()]
    assert len(server.received) == 1
    mail = server.received[0]
    assert mail.mail_from == "backup@example.org"
    assert mail.rcpt_tos == ["ann@example.org"]
    assert mail.message["Subject"] == "Signed in"
    texts = log_file_texts(prog)
    commands = [t for t in texts if re.match(r"(EHLO|HELO|AUTH|MAIL|RCPT|DATA|QUIT)\b", t)]
    assert [c.split()[0] for c in commands] == ["EHLO", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"]
    # FromName is set only after AUTH, yet MAIL FROM carries the sender.
    assert "MAIL FROM:<backup@example.org>" in texts
    assert matches(auth_lines(texts), MASKED[mechanism]), auth_lines(texts)
    assert texts[-1] == SENT
    assert_no_password(prog)


@pytest.mark.parametrize("offered, refused, tried", [
    (MECHANISMS, ("NTLM", "CRAM-MD5", "CRAM-SHA1"), ["NTLM", "CRAM-MD5", "CRAM-SHA1", "LOGIN"]),
    (("PLAIN", "LOGIN"), (), ["LOGIN"]),
    (("PLAIN",), (), ["PLAIN"]),
    # Mechanisms the server does not list are tried too, each refused with 504.
    (("NTLM", "PLAIN"), ("NTLM",), ["NTLM", "CRAM-MD5", "CRAM-SHA1", "LOGIN", "PLAIN"]),
    ((), (), ["CRAM-MD5", "CRAM-SHA1", "LOGIN", "PLAIN"]),
], ids=["walks-down-on-504", "login-before-plain", "plain-only", "unlisted-ones-too", "nothing-listed"])
def test_automatic_choice(prog, offered, refused, tried):
    with AuthServer(USER, PASSWORD, offered=offered, refuse=refused) as server:
        r = send(prog, server, AUTH["AUTO"])
    delivered = bool(offered)
    assert r.returncode == (0 if delivered else 1), r.stderr
    assert server.tried == tried
    assert len(server.received) == (1 if delivered else 0)
    assert_no_password(prog)
    if not delivered:
        assert failure_lines(log_file_texts(prog)) == (
            "Error sending Email, Step: 11 Error: 504", "504 5.5.4 Unrecognized authentication type")


@pytest.mark.parametrize("mechanism", MECHANISMS + ("AUTO",))
def test_wrong_password_fails_at_step_11(prog, mechanism):
    with AuthServer(USER, PASSWORD) as server:
        r = send(prog, server, AUTH[mechanism], password="not-" + PASSWORD)
    assert r.returncode == 1
    assert server.received == []
    assert failure_lines(log_file_texts(prog)) == (
        "Error sending Email, Step: 11 Error: 535", "535 5.7.8 Authentication credentials invalid")
    assert_no_password(prog, "not-" + PASSWORD)


def test_job_overrides_authentication_settings(prog):
    with AuthServer("jobuser", "job-pass") as server:
        r = send(prog, server, 0, password="", job_bytes=JOB + job(
            '<CFGEMAIL AUTHTYPE="crammd5" AUTHUSER=" jobuser " AUTHPASS="job-pass">'))
    assert r.returncode == 0, r.stderr
    assert server.tried == ["CRAM-MD5"]
    assert server.logins == [b"jobuser"]
    assert_no_password(prog, "job-pass")


# OpenSSL without its provider modules has no MD4 and DES.
NO_MODULES = dict(os.environ, OPENSSL_MODULES="/nonexistent/ossl-modules")


def test_ntlm_without_legacy_provider_fails_clearly(prog):
    with AuthServer(USER, PASSWORD, offered=["NTLM"]) as server:
        r = send(prog, server, AUTH["NTLM"], env=NO_MODULES)
    assert r.returncode == 1
    assert server.tried == []
    step, error = failure_lines(log_file_texts(prog))
    assert step == "Error sending Email, Step: 11 Error: 500"
    assert error.startswith("500 NTLM is not available: OpenSSL's legacy provider (MD4, DES) cannot be loaded")


def test_automatic_choice_without_legacy_provider_skips_ntlm(prog):
    with AuthServer(USER, PASSWORD, offered=["NTLM", "LOGIN"]) as server:
        r = send(prog, server, AUTH["AUTO"], env=NO_MODULES)
    assert r.returncode == 0, r.stderr
    assert server.tried == ["CRAM-MD5", "CRAM-SHA1", "LOGIN"]
    assert len(server.received) == 1


def test_server_side_crypto_matches_the_published_examples():
    """The test server's own MD4, DES and NTLM responses (MS-NLMP 4.2.2)."""
    assert md4(b"abc").hex() == "a448017aaf21d8525fc10ae87aa6729d"
    assert nt_hash("Password").hex() == "a4f49c406510bdcab6824ee7c30fd852"
    assert lm_hash("Password").hex() == "e52cac67419a9a224a3b108f3fa6cb6d"
    challenge = bytes.fromhex("0123456789abcdef")
    assert desl(nt_hash("Password"), challenge).hex() == "67c43011f30298a2ad35ece64f16331c44bdbed927841f94"
