"""TLS for the end-to-end tests: a self-signed certificate made at test time
(python3-cryptography), and aiosmtpd servers with implicit TLS (an SSL
context on the listening socket) or STARTTLS (its tls_context), each
recording for every mail and every AUTH whether the connection was
encrypted at that moment."""
import datetime
import ipaddress
import os
import ssl

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

from smtpservers import RecordingServer, _Handler, free_port


def make_certificate(folder, dns_names=("localhost",), addresses=("127.0.0.1",), name="server"):
    """Writes <name>.pem (certificate) and <name>.key beside each other;
    returns both paths."""
    key = ec.generate_private_key(ec.SECP256R1())
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, dns_names[0] if dns_names else "test")])
    now = datetime.datetime.now(datetime.timezone.utc)
    alt = [x509.DNSName(n) for n in dns_names] + [x509.IPAddress(ipaddress.ip_address(a)) for a in addresses]
    cert = (x509.CertificateBuilder()
            .subject_name(subject).issuer_name(subject)
            .public_key(key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(now - datetime.timedelta(hours=1))
            .not_valid_after(now + datetime.timedelta(days=1))
            .add_extension(x509.SubjectAlternativeName(alt), critical=False)
            .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
            .sign(key, hashes.SHA256()))
    cert_path = os.path.join(folder, name + ".pem")
    key_path = os.path.join(folder, name + ".key")
    with open(cert_path, "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    with open(key_path, "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))
    return cert_path, key_path


def server_context(cert_path, key_path):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert_path, key_path)
    return context


def _encrypted(server):
    return server.transport.get_extra_info("ssl_object") is not None


class _TlsHandler(_Handler):
    """Records, per mail, whether it came encrypted; checks PLAIN and LOGIN
    logins and records whether TLS was up when they came."""

    def __init__(self, user=None, password=None, refuse_rcpt=()):
        super().__init__(refuse_rcpt)
        self.user = user
        self.password = password
        self.encrypted = []
        self.tls_at_auth = []

    async def handle_DATA(self, server, session, envelope):
        self.encrypted.append(_encrypted(server))
        return await super().handle_DATA(server, session, envelope)

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        self.tls_at_auth.append(_encrypted(server))
        if auth_data.login == self.user.encode() and auth_data.password == self.password.encode():
            return AuthResult(success=True, auth_data=LoginPassword(auth_data.login, b""))
        return AuthResult(success=False, handled=False)


class TlsServer(RecordingServer):
    """implicit: TLS from the first byte. Otherwise STARTTLS, required before
    MAIL (and before AUTH when a user is given, which AUTH then needs).
    refuse_rcpt: addresses refused with 550."""

    def __init__(self, cert, key, implicit, user=None, password=None,  # pylint: disable=super-init-not-called
                 refuse_rcpt=()):
        self.handler = _TlsHandler(user, password, refuse_rcpt)
        self.port = free_port()
        context = server_context(cert, key)
        options = {}
        if user:
            options = dict(authenticator=self.handler.authenticate, auth_required=True, auth_require_tls=True,
                           auth_exclude_mechanism=["LOGIN"])
        if implicit:
            self.controller = Controller(self.handler, hostname="127.0.0.1", port=self.port,
                                         ssl_context=context, **options)
        else:
            self.controller = Controller(self.handler, hostname="127.0.0.1", port=self.port,
                                         tls_context=context, require_starttls=True, **options)

    @property
    def encrypted(self):
        return self.handler.encrypted

    @property
    def tls_at_auth(self):
        return self.handler.tls_at_auth
