"""OpenSSL's configuration file (OPENSSL_CONF, else the system's): never
opened for a mail without TLS, read once TLS starts, so that the system's
TLS policy still applies to encrypted mail."""
import os

import pytest

from authservers import AuthServer
from conftest import scrambled
from mailjobs import SENT, job, log_file_texts
from smtpservers import RecordingServer
from tlsservers import TlsServer, make_certificate

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")

JOB = job('<FROM EMAIL="backup@example.org">', '<TO EMAIL="ann@example.org">',
          '<SUBJECT CONTENT="Configuration">', '<MESSAGE CONTENT="Checked.">')
USER = "mailer"
PASSWORD = "S3cret-pass!42"

# The server's certificate has an EC key: a policy that allows RSA
# signatures only leaves the handshake nothing to agree on.
RSA_ONLY = """openssl_conf = init
[init]
ssl_conf = ssl_section
[ssl_section]
system_default = policy
[policy]
SignatureAlgorithms = RSA+SHA256:RSA+SHA384
"""


def send(prog, port, env, **settings):
    prog.settings(Host="127.0.0.1", Port=port, SaveLog=1, Timeout=10, **settings)
    prog.write("job.txt", JOB)
    return prog.run("job.txt", "/NOERROR", env=env, timeout=30)


@pytest.mark.parametrize("auth", [0, 3], ids=["no-auth", "cram-md5"])
def test_mail_without_tls_never_opens_the_configuration(prog, tmp_path, auth):
    # A named pipe that nobody writes: opening it for reading would block
    # the run until the time-out of the test.
    fifo = str(tmp_path / "openssl.cnf")
    os.mkfifo(fifo)
    env = dict(os.environ, OPENSSL_CONF=fifo)
    server_type = AuthServer if auth else RecordingServer
    with server_type(*((USER, PASSWORD) if auth else ())) as server:
        keys = dict(Auth=auth, Username=USER, Password=scrambled(PASSWORD)) if auth else {}
        r = send(prog, server.port, env, **keys)
    assert r.returncode == 0, log_file_texts(prog)
    assert log_file_texts(prog)[-1] == SENT
    assert len(server.received) == 1


def test_tls_applies_the_system_policy_of_the_configuration(prog, tmp_path):
    cert = make_certificate(str(tmp_path))
    config = tmp_path / "openssl.cnf"
    config.write_text(RSA_ONLY)
    outcomes = []
    for env in (None, dict(os.environ, OPENSSL_CONF=str(config))):
        with TlsServer(*cert, implicit=True) as server:
            r = send(prog, server.port, env, UseSSL=1, SSLType=1)
        outcomes.append((r.returncode, len(server.received)))
        texts = log_file_texts(prog)
    assert outcomes == [(0, 1), (1, 0)]
    assert any(t.startswith("SSL handshake failed - ") for t in texts), texts
