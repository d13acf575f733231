"""Many senders at once: every process with its own job script and
attachment, all to one local server. Each mail arrives exactly once with its
own content, each process ends within its time limit, and a refused mail
ends its process with exit 1 and the server's reason.

The numbers are small by default; `make stress` runs 200 senders, 50 at a
time (PLONEMAIL_SENDERS and PLONEMAIL_PARALLEL)."""
import os
import random
import subprocess
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

from conftest import Program
from mailjobs import SENT, failure_lines, job, log_file_texts, text_of
from smtpservers import RecordingServer

SENDERS = int(os.environ.get("PLONEMAIL_SENDERS", "40"))
PARALLEL = int(os.environ.get("PLONEMAIL_PARALLEL", "10"))
TIMEOUT = 60  # the settings' Timeout, and the most a process may take


def refuse_every_fifth(mail):
    number = int(mail.message["Subject"].split()[-1])
    return f"554 5.7.1 mail {number} refused by policy" if number % 5 == 0 else None


class Sender:
    def __init__(self, folder, number, port):
        self.number = number
        self.prog = Program(folder)
        self.attachment = random.Random(number).randbytes(20_000 + number)
        self.prog.write("data.bin", self.attachment)
        self.prog.settings(Host="127.0.0.1", Port=port, SaveLog=1, Timeout=TIMEOUT)
        self.prog.write("job.txt", job(
            f'<FROM EMAIL="sender{number}@example.org">',
            f'<TO EMAIL="rcpt{number}@example.org">',
            f'<SUBJECT CONTENT="Mail {number}">',
            f'<MESSAGE CONTENT="Body of mail {number}.">',
            '<ATTACHMENT FILE="data.bin">'))

    def run(self):
        start = time.monotonic()
        try:
            self.result = self.prog.run("job.txt", "/NOERROR", timeout=TIMEOUT)
        except subprocess.TimeoutExpired:  # killed and reaped by subprocess
            self.result = None
        self.elapsed = time.monotonic() - start
        return self


@pytest.mark.parametrize("refuse", [False, True], ids=["all accepted", "every fifth refused"])
def test_many_senders_at_once(tmp_path, refuse):
    with RecordingServer(refuse_data=refuse_every_fifth if refuse else None) as server:
        senders = []
        for number in range(1, SENDERS + 1):
            folder = tmp_path / f"sender{number}"
            folder.mkdir()
            senders.append(Sender(str(folder), number, server.port))
        with ThreadPoolExecutor(max_workers=PARALLEL) as pool:
            done = list(pool.map(Sender.run, senders))
        received = list(server.received)

    slow = [(s.number, round(s.elapsed, 1)) for s in done if s.result is None or s.elapsed >= TIMEOUT]
    assert slow == [], "not finished within the time limit"
    by_subject = {}
    for mail in received:
        by_subject.setdefault(mail.message["Subject"], []).append(mail)
    for s in done:
        refused = refuse and s.number % 5 == 0
        mails = by_subject.get(f"Mail {s.number}", [])
        texts = log_file_texts(s.prog)
        assert not os.path.exists(s.prog.file("job.txt"))
        if refused:
            assert s.result.returncode == 1, (s.number, s.result.stderr)
            assert mails == []
            assert failure_lines(texts) == ("Error sending Email, Step: 5 Error: 554",
                                            f"554 5.7.1 mail {s.number} refused by policy")
            continue
        assert s.result.returncode == 0, (s.number, s.result.stderr)
        assert texts[-1] == SENT
        assert len(mails) == 1, f"mail {s.number} arrived {len(mails)} times"
        mail = mails[0]
        assert mail.mail_from == f"sender{s.number}@example.org"
        assert mail.rcpt_tos == [f"rcpt{s.number}@example.org"]
        text, attachment = mail.message.get_payload()
        assert text_of(text).rstrip("\n") == f"Body of mail {s.number}."
        assert attachment.get_payload(decode=True) == s.attachment
    expected = SENDERS - (SENDERS // 5 if refuse else 0)
    assert len(received) == expected
