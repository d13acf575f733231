"""OAuth 2.0 for the end-to-end tests, all on 127.0.0.1.

TokenEndpoint: an HTTPS token endpoint (RFC 6749; http.server with ssl and a
certificate made at test time, see tlsservers) that knows one client and one refresh token,
issues long random access tokens, records every request's form, and can
answer with an error or not at all.

OAuthServer: aiosmtpd requiring AUTH with XOAUTH2 or OAUTHBEARER (RFC 7628).
It parses the client's initial response exactly, accepts the tokens its
`accepts` callable accepts, and refuses the others the way Google does: an
error challenge (334 and Base64 JSON), the client's answer to it, then 535;
optionally only after STARTTLS.
"""
import base64
import binascii
import collections
import http.server
import json
import secrets
import threading
import time
import urllib.parse

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

from smtpservers import RecordingServer, _Handler, free_port
from tlsservers import make_certificate, server_context

OAUTH_ERROR = {"status": "401", "schemes": "bearer", "scope": "https://mail.example.test/"}


class TokenEndpoint:
    """Knows the client `client_id` with `client_secret` and, for the
    refresh-token grant, `refresh_token`. error: a (status, JSON object)
    reply to every request; stall: requests are never answered."""

    PATH = "/oauth2/v2.0/token"

    def __init__(self, folder, client_id, client_secret, refresh_token=None, expires_in=3600, error=None,
                 stall=False):
        self.cert, key = make_certificate(folder, name="endpoint")
        self.client_id = client_id
        self.client_secret = client_secret
        self.refresh_token = refresh_token
        self.expires_in = expires_in
        self.error = error
        self.stall = stall
        self.requests = []      # the form of each request, one value per field
        self.issued = []        # every token handed out
        self.valid = set()      # the tokens a mail server accepts
        self._lock = threading.Lock()
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), self._handler_class())
        self.httpd.daemon_threads = True
        self.httpd.socket = server_context(self.cert, key).wrap_socket(self.httpd.socket, server_side=True)
        self.url = f"https://127.0.0.1:{self.httpd.server_address[1]}{self.PATH}"

    def _handler_class(self):
        endpoint = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode()
                form = {k: v[0] for k, v in urllib.parse.parse_qs(body, keep_blank_values=True).items()}
                with endpoint._lock:
                    endpoint.requests.append(dict(form, _path=self.path, _type=self.headers.get("Content-Type")))
                if endpoint.stall:
                    time.sleep(30)
                    return
                status, reply = endpoint.answer(form)
                data = json.dumps(reply).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

        return Handler

    def answer(self, form):
        if self.error:
            return self.error
        if form.get("client_id") != self.client_id or form.get("client_secret") != self.client_secret:
            return 400, {"error": "invalid_client", "error_description": "Client authentication failed."}
        grant = form.get("grant_type")
        if grant == "refresh_token" and (not self.refresh_token or form.get("refresh_token") != self.refresh_token):
            return 400, {"error": "invalid_grant", "error_description": "Bad refresh token."}
        if grant not in ("refresh_token", "client_credentials"):
            return 400, {"error": "unsupported_grant_type"}
        return 200, {"access_token": self.issue(), "token_type": "Bearer", "expires_in": self.expires_in}

    def issue(self):
        """A token as long as Microsoft's (about 1500 characters)."""
        with self._lock:
            token = f"ya29.t{len(self.issued) + 1}." + secrets.token_urlsafe(1100)
            self.issued.append(token)
            self.valid.add(token)
        return token

    def revoke_all(self):
        with self._lock:
            self.valid.clear()

    def __enter__(self):
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()


def _parse_xoauth2(data):
    if not (data.startswith(b"user=") and data.endswith(b"\x01\x01")):
        return None
    user, _, auth = data[5:-2].partition(b"\x01")
    if not auth.startswith(b"auth=Bearer ") or b"\x01" in auth:
        return None
    return {"user": user.decode(), "token": auth[len(b"auth=Bearer "):].decode()}


def _parse_oauthbearer(data):
    """n,a=USER,^Ahost=H^Aport=P^Aauth=Bearer T^A^A (RFC 7628 3.1)."""
    gs2, sep, rest = data.partition(b"\x01")
    if not sep or not gs2.startswith(b"n,a=") or not gs2.endswith(b",") or not rest.endswith(b"\x01\x01"):
        return None
    pairs = dict(kv.split(b"=", 1) for kv in rest[:-2].split(b"\x01"))
    auth = pairs.get(b"auth", b"")
    if not auth.startswith(b"Bearer "):
        return None
    user = gs2[4:-1].replace(b"=2C", b",").replace(b"=3D", b"=")
    return {"user": user.decode(), "token": auth[len(b"Bearer "):].decode(),
            "host": pairs.get(b"host", b"").decode(), "port": pairs.get(b"port", b"").decode()}


class OAuthHandler(_Handler):
    def __init__(self, user, accepts, refuse_rcpt=()):
        super().__init__(refuse_rcpt)
        self.user = user
        self.accepts = accepts
        self.attempts = []     # per AUTH: mechanism, the parsed response, accepted or not
        self.encrypted = []    # per AUTH: whether TLS was up
        self.answers = []      # the client's answers to error challenges (decoded)
        self.port = None

    def refuse_password(self, server, session, envelope, mechanism, auth_data):
        return AuthResult(success=False, handled=False)

    async def _sign_in(self, server, mechanism, args, parse):
        try:
            fields = parse(base64.b64decode(args[1], validate=True)) if len(args) == 2 else None
        except (binascii.Error, ValueError, UnicodeDecodeError):
            fields = None
        if fields is None:
            await server.push("501 5.5.2 Malformed initial response")
            self.attempts.append((mechanism, None, False))
            return AuthResult(success=False, handled=True)
        self.encrypted.append(server.transport.get_extra_info("ssl_object") is not None)
        ok = fields["user"] == self.user and self.accepts(fields["token"])
        if mechanism == "OAUTHBEARER":
            ok = ok and fields["host"] == "127.0.0.1" and fields["port"] == str(self.port)
        self.attempts.append((mechanism, fields, ok))
        if ok:
            return AuthResult(success=True, auth_data=LoginPassword(fields["user"].encode(), b""))
        answer = await server.challenge_auth(json.dumps(OAUTH_ERROR))
        self.answers.append(answer)
        return AuthResult(success=False, handled=False)

    async def auth_XOAUTH2(self, server, args):
        return await self._sign_in(server, "XOAUTH2", args, _parse_xoauth2)

    async def auth_OAUTHBEARER(self, server, args):
        return await self._sign_in(server, "OAUTHBEARER", args, _parse_oauthbearer)


class _LongLineSMTP(SMTP):
    """AUTH lines carry tokens of some thousand characters (RFC 4954 allows
    12288 octets)."""
    line_length_limit = 16384

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.command_size_limits = collections.defaultdict(lambda: 12288)


class _OAuthController(Controller):
    def factory(self):
        return _LongLineSMTP(self.handler, **self.SMTP_kwargs)


class OAuthServer(RecordingServer):
    """Requires AUTH XOAUTH2 or OAUTHBEARER for user, with a token that
    accepts(token) accepts; refuse_rcpt: addresses refused with 550. With a
    certificate and key in `tls`, STARTTLS is required before AUTH."""

    def __init__(self, user, accepts, refuse_rcpt=(), tls=None):  # pylint: disable=super-init-not-called
        self.handler = OAuthHandler(user, accepts, refuse_rcpt)
        self.port = self.handler.port = free_port()
        options = dict(tls_context=server_context(*tls), require_starttls=True) if tls else {}
        self.controller = _OAuthController(
            self.handler, hostname="127.0.0.1", port=self.port, auth_required=True, auth_require_tls=bool(tls),
            authenticator=self.handler.refuse_password, auth_exclude_mechanism=["PLAIN", "LOGIN"], **options)

    @property
    def attempts(self):
        return self.handler.attempts

    @property
    def answers(self):
        return self.handler.answers
