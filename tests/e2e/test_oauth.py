"""OAuth 2.0 sign-in end to end: XOAUTH2 and OAUTHBEARER with tokens from a
local HTTPS token endpoint (client credentials, refresh token) or from
OAuthTokenCommand, also over STARTTLS; the token cache across runs; a refused token renewed
once; endpoint and command failures; the error report on the run's token;
and a log file and /STAT output without any token or secret."""
import base64
import json
import os
import re
import stat
import time

import pytest

from conftest import PRIVATE_DIR, WINDOWS, scrambled
from mailjobs import SENT, assert_no_secrets, failure_lines, job, log_file_texts
from oauthservers import OAUTH_ERROR, OAuthServer, TokenEndpoint
from tlsservers import make_certificate

# The test servers sign in without TLS on purpose.
pytestmark = pytest.mark.filterwarnings("ignore:Requiring AUTH while not requiring TLS")

USER = "mailer@example.org"
CLIENT_ID = "0b1c2d3e-4f50-app"
CLIENT_SECRET = "Cl1ent~Secret.Value_42"
REFRESH_TOKEN = "1//0gRefresh-Token_Value-77"
COMMAND_TOKEN = "cmd.Token-from-helper_0123456789"
SCOPE = "https://outlook.office365.com/.default"
AUTH = {"XOAUTH2": 7, "OAUTHBEARER": 8}
ADMIN = "admin@example.org"
JOB = job('<FROM EMAIL="backup@example.org">', '<TO EMAIL="ann@example.org">',
          '<SUBJECT CONTENT="Signed in with OAuth">', '<MESSAGE CONTENT="Sent after AUTH with a token.">')
SERVER_ERROR = "OAuth error: status 401, schemes bearer, scope https://mail.example.test/"
REFUSED = "535 5.7.8 Authentication credentials invalid"
# The token request goes straight to 127.0.0.1.
ENV = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}


@pytest.fixture
def endpoint(tmp_path):
    with TokenEndpoint(str(tmp_path), CLIENT_ID, CLIENT_SECRET, refresh_token=REFRESH_TOKEN) as e:
        yield e


def endpoint_keys(endpoint, refresh=False):
    keys = dict(OAuthTokenUrl=endpoint.url, OAuthClientId=CLIENT_ID, OAuthClientSecret=scrambled(CLIENT_SECRET),
                OAuthScope=SCOPE, CAFile=endpoint.cert)
    if refresh:
        keys["OAuthRefreshToken"] = scrambled(REFRESH_TOKEN)
    return keys


def send(prog, server, mechanism="XOAUTH2", job_bytes=JOB, args=(), **keys):
    """Runs the job with /STAT; checks that neither the log file nor the
    program's output holds a secret or any token the endpoint issued."""
    settings = dict(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=10, Auth=AUTH.get(mechanism, 0),
                    Username=USER)
    prog.settings(**dict(settings, **keys))
    prog.write("job.txt", job_bytes)
    r = prog.run("job.txt", "/NOERROR", "/STAT", *args, env=ENV)
    with open(prog.file("plonemail.log"), "rb") as f:
        log = f.read()
    issued = [a[1]["token"] for a in server.attempts if a[1]]
    secrets = [s.encode() for s in [CLIENT_SECRET, REFRESH_TOKEN, COMMAND_TOKEN] + issued]
    assert_no_secrets(log + r.stdout + r.stderr, secrets)
    return r


def texts_of(prog):
    return log_file_texts(prog)


def auth_lines(texts):
    start = next(i for i, t in enumerate(texts) if t.startswith("AUTH "))
    end = next((i for i, t in enumerate(texts) if t.startswith("MAIL FROM:")), len(texts))
    return texts[start:end]


def accepted(endpoint):
    return lambda token: token in endpoint.valid


def assert_delivered(r, server, count=1):
    assert r.returncode == 0, r.stderr
    assert len(server.received) == count
    mail = server.received[-1]
    assert mail.mail_from == "backup@example.org"
    assert mail.message["Subject"] == "Signed in with OAuth"
    # /STAT: the outcome box says the mail went, with no error on the way.
    assert b"The EMAIL has been Sent" in r.stderr


def cache_file(prog):
    return os.path.join(PRIVATE_DIR or prog.dir, "plonEmail.tokens")


def token_command(prog, posix, windows):
    """Writes the token helper for this system (a shell script, or a batch
    file for cmd.exe) and returns the command that runs it."""
    if WINDOWS:
        prog.write("token.cmd", windows.replace("\n", "\r\n"))
        return "token.cmd"
    prog.write("token.sh", posix)
    return "sh token.sh"


@pytest.mark.parametrize("mechanism, refresh", [
    ("XOAUTH2", False), ("XOAUTH2", True), ("OAUTHBEARER", True),
], ids=["microsoft-app-only", "google-refresh", "oauthbearer-refresh"])
def test_token_from_the_endpoint_signs_in(prog, endpoint, mechanism, refresh):
    with OAuthServer(USER, accepted(endpoint)) as server:
        r = send(prog, server, mechanism, **endpoint_keys(endpoint, refresh))
    assert_delivered(r, server)
    grant = dict(grant_type="refresh_token", refresh_token=REFRESH_TOKEN) if refresh else dict(
        grant_type="client_credentials")
    assert endpoint.requests == [dict(grant, client_id=CLIENT_ID, client_secret=CLIENT_SECRET, scope=SCOPE,
                                      _path=TokenEndpoint.PATH, _type="application/x-www-form-urlencoded")]
    assert [(m, f["user"], f["token"], ok) for m, f, ok in server.attempts] == [
        (mechanism, USER, endpoint.issued[0], True)]
    texts = texts_of(prog)
    assert texts[texts.index("Connecting to smtp server...") - 2:][:2] == [
        f"Requesting an OAuth token from {endpoint.url}", "OAuth token received, valid for 3600 seconds"]
    assert auth_lines(texts) == [f"AUTH {mechanism} ****", "235 2.7.0 Authentication successful"]
    assert texts[-1] == SENT
    if not WINDOWS:  # there the folder's access list keeps others out
        assert stat.S_IMODE(os.stat(cache_file(prog)).st_mode) == 0o600


# The usual setting: STARTTLS, and one CAFile (a bare name, beside the
# program) that both the mail server and the token endpoint are checked with.
def test_over_starttls_with_every_certificate_verified(prog, tmp_path, endpoint):
    # A subject of its own: of two self-signed certificates with one subject
    # in a file, OpenSSL may find only one (on Windows it does).
    cert, key = make_certificate(str(tmp_path), dns_names=("mail.localhost",), name="smtp")
    with open(cert, "rb") as a, open(endpoint.cert, "rb") as b:
        prog.write("trusted.pem", a.read() + b.read())
    keys = dict(endpoint_keys(endpoint, refresh=True), CAFile="trusted.pem", UseSSL=1, SSLType=2, VerifyPeer=1)
    with OAuthServer(USER, accepted(endpoint), tls=(cert, key)) as server:
        r = send(prog, server, "OAUTHBEARER", **keys)
    assert_delivered(r, server)
    assert server.handler.encrypted == [True]
    assert len(endpoint.requests) == 1


@pytest.mark.parametrize("where", ["settings", "job"])
def test_token_from_the_command_signs_in(prog, where):
    helper = token_command(prog, f"echo '{COMMAND_TOKEN}'\necho 'second line'\necho 'a warning' >&2\n",
                           f"@echo {COMMAND_TOKEN}\n@echo second line\n@echo a warning>&2\n")
    in_job = where == "job"
    keys = {} if in_job else dict(OAuthTokenCommand=helper)
    job_bytes = JOB + job(f'<CFGEMAIL AUTHTYPE="xoauth2" OAUTHTOKENCOMMAND="{helper}">') if in_job else JOB
    with OAuthServer(USER, lambda token: token == COMMAND_TOKEN) as server:
        r = send(prog, server, "NONE" if in_job else "XOAUTH2", job_bytes=job_bytes, **keys)
    assert_delivered(r, server)
    assert [ok for _, _, ok in server.attempts] == [True]
    texts = texts_of(prog)
    assert "Getting the OAuth token from OAuthTokenCommand" in texts
    assert auth_lines(texts) == ["AUTH XOAUTH2 ****", "235 2.7.0 Authentication successful"]
    assert not os.path.exists(cache_file(prog))


def test_second_run_within_the_lifetime_asks_for_no_token(prog, endpoint):
    with OAuthServer(USER, accepted(endpoint)) as server:
        send(prog, server, **endpoint_keys(endpoint))
        r = send(prog, server, **endpoint_keys(endpoint))
    assert_delivered(r, server, count=2)
    assert len(endpoint.requests) == 1
    assert [f["token"] for _, f, _ in server.attempts] == [endpoint.issued[0]] * 2
    assert any(re.fullmatch(r"OAuth token from the cache, valid for 3[56]\d\d seconds more", t)
               for t in texts_of(prog))


def expire_cached_tokens(prog):
    with open(cache_file(prog)) as f:
        entries = json.load(f)
    for entry in entries.values():
        entry["expires_at"] = int(time.time()) - 1
    with open(cache_file(prog), "w") as f:
        json.dump(entries, f)


@pytest.mark.parametrize("expiry", ["expired", "within-the-last-minute"])
def test_expired_token_is_renewed(prog, tmp_path, expiry):
    expires_in = 50 if expiry == "within-the-last-minute" else 3600
    with TokenEndpoint(str(tmp_path), CLIENT_ID, CLIENT_SECRET, expires_in=expires_in) as endpoint, \
            OAuthServer(USER, accepted(endpoint)) as server:
        send(prog, server, **endpoint_keys(endpoint))
        if expiry == "expired":
            expire_cached_tokens(prog)
        r = send(prog, server, **endpoint_keys(endpoint))
    assert_delivered(r, server, count=2)
    assert len(endpoint.requests) == 2
    assert [f["token"] for _, f, _ in server.attempts] == endpoint.issued


@pytest.mark.parametrize("mechanism, answer", [("XOAUTH2", b""), ("OAUTHBEARER", b"\x01")])
def test_refused_cached_token_is_renewed_once(prog, endpoint, mechanism, answer):
    with OAuthServer(USER, accepted(endpoint)) as server:
        send(prog, server, mechanism, **endpoint_keys(endpoint))
        endpoint.revoke_all()
        r = send(prog, server, mechanism, **endpoint_keys(endpoint))
    assert_delivered(r, server, count=2)
    assert len(endpoint.requests) == 2
    assert [(f["token"], ok) for _, f, ok in server.attempts] == [
        (endpoint.issued[0], True), (endpoint.issued[0], False), (endpoint.issued[1], True)]
    # The error challenge was answered as the mechanism says.
    assert server.answers == [answer]
    second_run = texts_of(prog)[texts_of(prog).index(SENT) + 1:]
    assert auth_lines(second_run)[2:] == [
        "****", REFUSED, SERVER_ERROR, "The server refused the cached OAuth token; signing in with a new one",
        f"Requesting an OAuth token from {endpoint.url}", "OAuth token received, valid for 3600 seconds",
        f"AUTH {mechanism} ****", "235 2.7.0 Authentication successful"]
    challenge = auth_lines(second_run)[1]
    assert challenge.startswith("334 ") and json.loads(base64.b64decode(challenge[4:])) == OAUTH_ERROR


def test_new_token_refused_fails_without_another_request(prog, endpoint):
    with OAuthServer(USER, lambda token: False) as server:
        r = send(prog, server, **endpoint_keys(endpoint))
        assert r.returncode == 1
        assert len(endpoint.requests) == 1
        texts = texts_of(prog)
        assert failure_lines(texts) == ("Error sending Email, Step: 11 Error: 535", REFUSED)
        assert SERVER_ERROR in texts
        # The refused token is not offered again by the next run.
        send(prog, server, **endpoint_keys(endpoint))
    assert len(endpoint.requests) == 2
    assert server.received == []


def assert_fails_before_connecting(prog, r, server, error):
    assert r.returncode == 1
    texts = texts_of(prog)
    assert "Connecting to smtp server..." not in texts
    assert texts[-2:] == [error, "End with errors."]
    assert server.attempts == [] and server.received == []


def test_endpoint_error_fails_the_run_with_its_description(prog, tmp_path):
    error = (400, {"error": "invalid_client",
                   "error_description": "AADSTS7000215: Invalid client secret provided."})
    with TokenEndpoint(str(tmp_path), CLIENT_ID, CLIENT_SECRET, error=error) as endpoint, \
            OAuthServer(USER, accepted(endpoint)) as server:
        r = send(prog, server, **endpoint_keys(endpoint))
    assert_fails_before_connecting(
        prog, r, server, f"Error: Token request to {endpoint.url} failed (HTTP 400): "
                         "invalid_client: AADSTS7000215: Invalid client secret provided.")
    assert len(endpoint.requests) == 1


@pytest.mark.parametrize("case", ["untrusted-certificate", "silent-endpoint"])
def test_token_request_that_gets_no_reply_fails(prog, tmp_path, case):
    stall = case == "silent-endpoint"
    with TokenEndpoint(str(tmp_path), CLIENT_ID, CLIENT_SECRET, stall=stall) as endpoint, \
            OAuthServer(USER, accepted(endpoint)) as server:
        keys = endpoint_keys(endpoint)
        if not stall:
            del keys["CAFile"]  # the system's trust store does not know the test certificate
        r = send(prog, server, Timeout=2, **keys)
    texts = texts_of(prog)
    error = texts[-2]
    assert error.startswith(f"Error: Token request failed: {endpoint.url}: ")
    assert ("timed out" if stall else "certificate") in error.lower()
    assert_fails_before_connecting(prog, r, server, error)
    assert len(endpoint.requests) == (1 if stall else 0)


def process_gone(pid):
    """Ended: no such process, or a zombie whose parent has not reaped it."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


@pytest.mark.parametrize("script, batch, error", [
    ("echo 'helper: no credentials for mailer' >&2\necho 'more' >&2\nexit 3\n",
     "@echo helper: no credentials for mailer>&2\n@echo more>&2\n@exit /b 3\n",
     "Error: OAuthTokenCommand failed (exit code 3): helper: no credentials for mailer"),
    ("echo\necho 'not the first line'\n", "@echo.\n@echo not the first line\n",
     "Error: OAuthTokenCommand printed no token"),
    ("echo $$ > shell.pid\nsleep 60 &\necho $! > child.pid\necho 'still waiting' >&2\nwait\n",
     "@echo still waiting>&2\n@for /l %%i in (0,0,1) do @rem\n",
     "Error: OAuthTokenCommand did not finish within 2 seconds and was stopped: still waiting"),
], ids=["exit-code", "empty-line", "time-limit"])
def test_failing_token_command_fails_the_run(prog, script, batch, error):
    helper = token_command(prog, script, batch)
    with OAuthServer(USER, lambda token: True) as server:
        r = send(prog, server, Timeout=2, OAuthTokenCommand=helper)
    assert_fails_before_connecting(prog, r, server, error)
    # Nothing the command started outlives the run.
    for name in ("shell.pid", "child.pid"):
        if os.path.exists(prog.file(name)):
            assert process_gone(int(prog.read(name)))


def test_error_report_signs_in_with_the_same_token(prog, endpoint):
    job_bytes = job('<FROM EMAIL="backup@example.org">', '<TO EMAIL="nobody@example.org">',
                    '<SUBJECT CONTENT="Signed in with OAuth">', '<MESSAGE CONTENT="Refused.">')
    with OAuthServer(USER, accepted(endpoint), refuse_rcpt=["nobody@example.org"]) as server:
        r = send(prog, server, job_bytes=job_bytes, args=("/LOGEMAIL", ADMIN), **endpoint_keys(endpoint))
    assert r.returncode == 1
    assert len(endpoint.requests) == 1
    assert [(f["token"], ok) for _, f, ok in server.attempts] == [(endpoint.issued[0], True)] * 2
    assert [m.rcpt_tos for m in server.received] == [[ADMIN]]
    assert texts_of(prog)[-1] == "LogEmail sended!"
