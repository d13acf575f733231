"""The floor of bench/compare: a message encoded beforehand (with CR LF
line ends and dots doubled) pushed through DATA in 1 MiB writes; nothing is
composed or encoded while it runs.

push_data.py HOST PORT TLS MESSAGE  (TLS: 1 for implicit TLS, no checks)
"""
import socket
import ssl
import sys

CHUNK = 1 << 20


def expect(replies, code):
    while True:
        line = replies.readline()
        if not line.startswith(code.encode()):
            raise SystemExit(f"expected {code}, got {line!r}")
        if line[3:4] != b"-":
            return


def main(host, port, tls, message):
    sock = socket.create_connection((host, int(port)))
    if tls == "1":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        sock = context.wrap_socket(sock)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    replies = sock.makefile("rb")
    expect(replies, "220")
    for command, code in ((b"HELO bench", "250"), (b"MAIL FROM:<bench@example.org>", "250"),
                          (b"RCPT TO:<sink@example.org>", "250"), (b"DATA", "354")):
        sock.sendall(command + b"\r\n")
        expect(replies, code)
    with open(message, "rb") as f:
        while chunk := f.read(CHUNK):
            sock.sendall(chunk)
    sock.sendall(b".\r\n")
    expect(replies, "250")
    sock.sendall(b"QUIT\r\n")
    expect(replies, "221")
    sock.close()


if __name__ == "__main__":
    main(*sys.argv[1:])
