"""Language files: captions from section Translations (seen in the /STAT
title), run-time messages from section Messages (seen in the log and the
error report)."""
import os
import re

import pytest

from mailjobs import job, log_file_texts, text_lines
from smtpservers import RecordingServer

DATED = re.compile(r"^\[\d\d/[A-Za-z]{3}/\d\d \d\d:\d\d:\d\d\] ")


def stat_run(prog, language=None, setting="english.lng"):
    """A run that ends at once (a setting out of range) after the
    translation: the lines /STAT prints before the first dated one."""
    if language is not None:
        prog.write(setting, language)
    prog.settings(Language=setting, Auth=9)
    r = prog.run("job.txt", "/NOERROR", "/STAT")
    assert r.returncode == 2
    lines = r.stdout.decode().splitlines()
    first_dated = next(i for i, line in enumerate(lines) if DATED.match(line))
    return lines[:first_dated]


@pytest.mark.parametrize("language, title", [
    ("[Translations]\nfrmSendEMail.Caption=Enviar correo\nfrmSendEMail.grpDebug.Caption=Registro\n",
     ["Enviar correo", "Registro"]),
    ("[TRANSLATIONS]\nFRMSENDEMAIL.CAPTION=Enviar correo\nFRMSENDEMAIL.GRPDEBUG.CAPTION=Registro\n",
     ["Enviar correo", "Registro"]),
    ("[Translations]\nfrmOther.Caption=Otra\nfrmOther.grpDebug.Caption=Otra\n", ["Send Email", "Process log"]),
    ("[Translations]\nfrmSendEMail.Caption=\nfrmSendEMail.grpDebug.Caption=Registro\n",
     ["Send Email", "Registro"]),
    ("[Messages]\nfrmSendEMail.Caption=Wrong section\n", ["Send Email", "Process log"]),
    (None, ["Send Email", "Process log"]),
], ids=["captions", "upper case", "other window", "empty value", "other section", "missing file"])
def test_captions_in_the_stat_title(prog, language, title):
    assert stat_run(prog, language) == title


def test_language_setting_names_the_file_beside_the_program(prog):
    example = os.path.join(os.path.dirname(__file__), "../../examples/spanish.lng")
    with open(example, encoding="utf-8") as f:
        language = f.read()
    assert stat_run(prog, language, setting="spanish.lng") == ["Enviar correo", "Registro del proceso"]


@pytest.mark.parametrize("separator, lines", [(";", ["a", "b"]), (None, ["a;b"])])
def test_separator_splits_a_list_value(prog, separator, lines):
    language = "[Translations]\n"
    if separator:
        language += f"frmSendEMail.Lang.Separator={separator}\n"
    language += "frmSendEMail.DisplayMemo.Lines=a;b\n"
    # The process log starts with the translated lines, then the run's own.
    assert stat_run(prog, language) == ["Send Email", "Process log"] + lines


FRENCH = """[Messages]
Error sending Email=Échec de l'envoi
Error on Send Email=Erreur à l'envoi du courriel
From=Expéditeur
To=Destinataires
Subject=Objet
Message=Réponse
"""


def test_messages_translate_step_text_and_report(prog):
    prog.write("english.lng", FRENCH)
    prog.write("job.txt", job('<FROM EMAIL="backup@example.org">', '<TO EMAIL="ops@example.org">',
                              '<SUBJECT CONTENT="Sauvegarde">'))
    with RecordingServer(refuse_rcpt={"ops@example.org"}) as server:
        prog.settings(Host="127.0.0.1", Port=server.port, SaveLog=1, Timeout=5)
        r = prog.run("job.txt", "/NOERROR", "/LOGEMAIL", "admin@example.org")
    assert r.returncode == 1
    step = "Échec de l'envoi, Step: 4 Error: 550"
    assert log_file_texts(prog)[-3:] == [step, "550 5.1.1 mailbox unavailable", "LogEmail sended!"]
    assert len(server.received) == 1
    report = server.received[0].message
    assert report["Subject"] == "Échec de l'envoi"
    assert text_lines(report) == [
        "Erreur à l'envoi du courriel", "",
        "Expéditeur:  <backup@example.org>", "Destinataires:  <ops@example.org>", "Objet: Sauvegarde", "",
        "Réponse: 550 5.1.1 mailbox unavailable", "",
        f"Program: {step}"]
