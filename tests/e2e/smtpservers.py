"""Local SMTP servers for the end-to-end tests, all on 127.0.0.1.

RecordingServer: a real SMTP server (aiosmtpd) that keeps every envelope.
ScriptedServer: a raw TCP server that plays a fixed reply script, for the
failure cases a real server would not produce (silence, early close).
"""
import asyncio
import email
import email.policy
import socket
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING


# A host name with a label longer than DNS allows: every lookup fails at
# once, without asking a name server the test does not control.
UNRESOLVABLE_HOST = "x" * 64 + ".invalid"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Received:
    def __init__(self, envelope):
        self.mail_from = envelope.mail_from
        self.rcpt_tos = list(envelope.rcpt_tos)
        self.raw = envelope.original_content or envelope.content
        self.message = email.message_from_bytes(self.raw, policy=email.policy.default)


class _Handler:
    def __init__(self, refuse_rcpt=(), stall=None, refuse_data=None):
        self.received = []
        self.refuse_rcpt = set(refuse_rcpt)
        self.refuse_data = refuse_data
        self.stall = {command: set(numbers) for command, numbers in (stall or {}).items()}
        self.counts = {}

    async def _maybe_stall(self, command):
        self.counts[command] = self.counts.get(command, 0) + 1
        if self.counts[command] in self.stall.get(command, ()):
            await asyncio.sleep(60)  # longer than any client waits

    async def handle_HELO(self, server, session, envelope, hostname):
        await self._maybe_stall("HELO")
        return MISSING

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refuse_rcpt:
            return "550 5.1.1 mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        await self._maybe_stall("DATA")
        mail = Received(envelope)
        refusal = self.refuse_data and self.refuse_data(mail)
        if refusal:
            return refusal
        self.received.append(mail)
        return "250 Message accepted for delivery"


class RecordingServer:
    """refuse_rcpt: addresses refused with 550; stall: for "HELO" or "DATA"
    the numbers of those commands (counted over all sessions, from 1) left
    unanswered (for DATA: the end of the message); refuse_data: sees each
    mail at the end of its data and returns the reply that refuses it, or
    None to accept it."""

    def __init__(self, refuse_rcpt=(), stall=None, refuse_data=None):
        self.handler = _Handler(refuse_rcpt, stall, refuse_data)
        self.port = free_port()
        self.controller = Controller(self.handler, hostname="127.0.0.1", port=self.port)

    def __enter__(self):
        self.controller.start()
        return self

    def __exit__(self, *exc):
        self.controller.stop()

    @property
    def received(self):
        return self.handler.received


class ScriptedServer:
    """Accepts connections and, for each, sends `greeting` (None: never
    greets), then answers each received line from `replies` (a function of
    the line that returns a reply text, None for silence, "CLOSE", or an
    iterable of reply lines sent one by one as it yields them)."""

    def __init__(self, greeting="220 scripted ESMTP", replies=None):
        self.greeting = greeting
        self.replies = replies or (lambda line: "250 OK")
        self.lines = []
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(5)
        self.port = self.sock.getsockname()[1]
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping = True
        self.sock.close()
        self.thread.join(timeout=5)

    def _serve(self):
        self.sock.settimeout(0.2)
        while not self.stopping:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                continue
            with conn:
                self._session(conn)

    def _session(self, conn):
        conn.settimeout(0.2)
        if self.greeting is not None:
            conn.sendall(self.greeting.encode() + b"\r\n")
        buf = b""
        in_data = False
        deadline = time.monotonic() + 120
        while not self.stopping and time.monotonic() < deadline:
            try:
                chunk = conn.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                return
            if not chunk:
                return
            buf += chunk
            while b"\r\n" in buf:
                raw, buf = buf.split(b"\r\n", 1)
                line = raw.decode("latin-1")
                self.lines.append(line)
                if in_data:
                    if line == ".":
                        in_data = False
                        reply = self.replies("<END OF DATA>")
                    else:
                        reply = self.replies("<DATA LINE>")
                        if reply == "250 OK":
                            reply = None
                else:
                    reply = self.replies(line)
                    if line.upper() == "DATA" and reply and reply.startswith("354"):
                        in_data = True
                if reply == "CLOSE":
                    return
                if reply is None:
                    continue
                try:
                    for text in [reply] if isinstance(reply, str) else reply:
                        conn.sendall(text.encode() + b"\r\n")
                except OSError:
                    return
