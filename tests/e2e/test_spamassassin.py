"""SpamAssassin on the example mails as the server received them, with
local tests only (no network): no rule about the message's structure or
its header lines may fire. CTest labels this test "spam" (not "e2e"): each
check takes seconds, and a quick run leaves it out with `ctest -LE spam`."""
import email
import email.policy
import os
import re
import shutil
import subprocess

import pytest

from conftest import needs_html_text
from examplejobs import deliver_example

# Rule names about the MIME structure, the parts and how they relate, the
# header lines and their encoding. Rules about the words of the text (such
# as HTML_IMAGE_ONLY_08 for a short HTML text beside an image) are not
# the composer's business.
STRUCTURE_RULE = re.compile(
    r"MIME|^MPART_|^MISSING_|^INVALID_|_MID$|MSGID|HEADER|^HDR_|CTYPE|BASE64|^QP_|ENCODED|"
    r"^DATE_|^FROM_|^TO_|^SUBJ_|^EMPTY_|NO_TEXT|^T_REMOTE_IMAGE$")


def fired_rules(raw, home):
    assert shutil.which("spamassassin"), "spamassassin is not installed (scripts/deps.sh installs it)"
    r = subprocess.run(
        ["spamassassin", "-t", "-L", "-x", "--cf=use_bayes 0", "--cf=bayes_auto_learn 0"],
        input=raw, capture_output=True, timeout=300, env=dict(os.environ, HOME=str(home)))
    assert r.returncode == 0, r.stderr.decode("utf-8", "replace")
    status = email.message_from_bytes(r.stdout, policy=email.policy.default)["X-Spam-Status"]
    assert status, r.stdout.decode("utf-8", "replace")[:2000]
    tests = re.search(r"tests=(.*?)(?:\s+autolearn=|\s+version=|$)", str(status), re.S)
    assert tests, status
    return [t.strip() for t in tests.group(1).split(",") if t.strip() and t.strip() != "none"]


# Without its plain-text rendering an HTML mail is judged otherwise.
@pytest.mark.parametrize("name", [pytest.param("newsletter.job", marks=needs_html_text), "plain.job"])
def test_no_rule_about_structure_or_headers_fires(prog, tmp_path, name):
    mail = deliver_example(prog, name)
    rules = fired_rules(mail.raw, tmp_path)
    assert [r for r in rules if STRUCTURE_RULE.search(r)] == [], rules
