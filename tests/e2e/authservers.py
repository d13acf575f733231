"""A local SMTP server that requires authentication, for the AUTH tests.

AuthServer is aiosmtpd with its own PLAIN and LOGIN plus test mechanisms
CRAM-MD5, CRAM-SHA1 and NTLM (version 1 responses) that really check the
client's answers against the password. It announces the mechanisms it is
given, answers 504 to those it is told to refuse, records the mechanism of
every AUTH command and the login of every mail it accepts.

MD4 (missing from hashlib under OpenSSL 3) is written out here; DES comes
from python3-cryptography.
"""
import base64
import hashlib
import hmac
import os
import struct

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

from smtpservers import RecordingServer, _Handler, free_port

MECHANISMS = ("PLAIN", "LOGIN", "CRAM-MD5", "CRAM-SHA1", "NTLM")
_M32 = 0xFFFFFFFF


def md4(data):
    """RFC 1320."""
    def rotl(v, s):
        v &= _M32
        return ((v << s) | (v >> (32 - s))) & _M32

    msg = data + b"\x80" + b"\0" * ((55 - len(data)) % 64) + struct.pack("<Q", len(data) * 8)
    a, b, c, d = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    rounds = (
        (lambda x, y, z: (x & y) | (~x & z), 0, range(16), (3, 7, 11, 19)),
        (lambda x, y, z: (x & y) | (x & z) | (y & z), 0x5A827999,
         [(i % 4) * 4 + i // 4 for i in range(16)], (3, 5, 9, 13)),
        (lambda x, y, z: x ^ y ^ z, 0x6ED9EBA1,
         (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15), (3, 9, 11, 15)),
    )
    for block in range(0, len(msg), 64):
        x = struct.unpack("<16I", msg[block:block + 64])
        saved = (a, b, c, d)
        for fn, constant, order, shifts in rounds:
            for i, k in enumerate(order):
                # Each step updates the next word of a, d, c, b in turn.
                a = rotl(a + fn(b, c, d) + x[k] + constant, shifts[i % 4])
                a, b, c, d = d, a, b, c
        a, b, c, d = ((v + s) & _M32 for v, s in zip((a, b, c, d), saved))
    return struct.pack("<4I", a, b, c, d)


def des7(key7, block):
    """Single DES of one block under a 7-byte key (parity bits ignored)."""
    k = int.from_bytes(key7, "big")
    key8 = bytes(((k >> (49 - 7 * i)) & 0x7F) << 1 for i in range(8))
    enc = Cipher(algorithms.TripleDES(key8), modes.ECB()).encryptor()
    return enc.update(block) + enc.finalize()


def desl(hash16, challenge):
    keys = hash16 + b"\0" * 5
    return b"".join(des7(keys[i:i + 7], challenge) for i in (0, 7, 14))


def nt_hash(password):
    return md4(password.encode("utf-16-le"))


def lm_hash(password):
    key = password.upper().encode("latin-1")[:14].ljust(14, b"\0")
    return des7(key[:7], b"KGS!@#$%") + des7(key[7:], b"KGS!@#$%")


def ntlm_challenge_message(challenge):
    """A Unicode type-2 message with target name TEST and domain and computer pairs."""
    name = "TEST".encode("utf-16-le")
    info = b"".join(struct.pack("<HH", i, len(v)) + v
                    for i, v in ((2, name), (1, "SERVER".encode("utf-16-le")))) + b"\0" * 4
    header_size = 48
    return (b"NTLMSSP\0" + struct.pack("<I", 2)
            + struct.pack("<HHI", len(name), len(name), header_size)
            + struct.pack("<I", 0x00008205) + challenge + b"\0" * 8
            + struct.pack("<HHI", len(info), len(info), header_size + len(name)) + name + info)


def ntlm_fields(message):
    """The buffers of a type-3 message by name, and its flags."""
    fields = {}
    for name, at in (("lm", 12), ("nt", 20), ("domain", 28), ("user", 36), ("host", 44)):
        length, _, offset = struct.unpack_from("<HHI", message, at)
        fields[name] = message[offset:offset + length]
    fields["flags"] = struct.unpack_from("<I", message, 60)[0]
    return fields


class AuthHandler(_Handler):
    def __init__(self, user, password, refuse=()):
        super().__init__()
        self.user = user
        self.password = password
        self.refuse = set(refuse)
        self.tried = []
        self.logins = []

    def _accept(self, login):
        return AuthResult(success=True, auth_data=LoginPassword(login, b""))

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        """aiosmtpd's check of PLAIN and LOGIN."""
        if auth_data.login == self.user.encode() and auth_data.password == self.password.encode():
            return self._accept(auth_data.login)
        return AuthResult(success=False, handled=False)

    async def handle_DATA(self, server, session, envelope):
        self.logins.append(getattr(session.auth_data, "login", None))
        return await super().handle_DATA(server, session, envelope)

    async def _refused(self, server, mechanism):
        if mechanism not in self.refuse:
            return None
        await server.push("504 5.5.4 Mechanism refused by this test")
        return AuthResult(success=False, handled=True)

    async def auth_PLAIN(self, server, args):
        return await self._refused(server, "PLAIN") or await server.auth_PLAIN(server, args)

    async def auth_LOGIN(self, server, args):
        return await self._refused(server, "LOGIN") or await server.auth_LOGIN(server, args)

    async def _cram(self, server, mechanism, digest):
        refused = await self._refused(server, mechanism)
        if refused:
            return refused
        challenge = f"<{os.getpid()}.{int.from_bytes(os.urandom(4), 'big')}@127.0.0.1>".encode()
        answer = await server.challenge_auth(challenge)
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        login, _, hexdigest = answer.partition(b" ")
        expected = hmac.new(self.password.encode(), challenge, digest).hexdigest().encode()
        if login == self.user.encode() and hexdigest == expected:
            return self._accept(login)
        return AuthResult(success=False, handled=False)

    async def auth_CRAM__MD5(self, server, args):
        return await self._cram(server, "CRAM-MD5", hashlib.md5)

    async def auth_CRAM__SHA1(self, server, args):
        return await self._cram(server, "CRAM-SHA1", hashlib.sha1)

    async def auth_NTLM(self, server, args):
        refused = await self._refused(server, "NTLM")
        if refused:
            return refused
        negotiate = base64.b64decode(args[1]) if len(args) > 1 else b""
        if negotiate[:12] != b"NTLMSSP\0\x01\0\0\0":
            await server.push("501 5.5.2 No NTLM negotiate message")
            return AuthResult(success=False, handled=True)
        challenge = os.urandom(8)
        answer = await server.challenge_auth(ntlm_challenge_message(challenge))
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        f = ntlm_fields(answer)
        if (answer[:12] == b"NTLMSSP\0\x03\0\0\0" and f["flags"] & 1
                and f["user"] == self.user.encode("utf-16-le")
                and f["nt"] == desl(nt_hash(self.password), challenge)
                and f["lm"] == desl(lm_hash(self.password), challenge)):
            return self._accept(self.user.encode())
        return AuthResult(success=False, handled=False)


class _RecordingSMTP(SMTP):
    async def smtp_AUTH(self, arg):
        self.event_handler.tried.append(arg.split()[0].upper() if arg.strip() else "")
        return await super().smtp_AUTH(arg)


class _AuthController(Controller):
    def factory(self):
        return _RecordingSMTP(self.handler, **self.SMTP_kwargs)


class AuthServer(RecordingServer):
    """Requires AUTH before MAIL; announces `offered`, answers 504 to `refuse`."""

    def __init__(self, user, password, offered=MECHANISMS, refuse=()):  # pylint: disable=super-init-not-called
        self.handler = AuthHandler(user, password, refuse)
        self.port = free_port()
        self.controller = _AuthController(
            self.handler, hostname="127.0.0.1", port=self.port,
            auth_required=True, auth_require_tls=False, authenticator=self.handler.authenticate,
            auth_exclude_mechanism=[m for m in MECHANISMS if m not in offered])

    @property
    def tried(self):
        return self.handler.tried

    @property
    def logins(self):
        return self.handler.logins
