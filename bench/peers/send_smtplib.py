"""The Python peer of bench/compare: composes the mail with the standard
email package and sends it with smtplib, as a Python user would.

send_smtplib.py HOST PORT TLS PAYLOAD  (TLS: 1 for implicit TLS, no checks)
"""
import os
import smtplib
import ssl
import sys
from email.message import EmailMessage


def main(host, port, tls, payload):
    msg = EmailMessage()
    msg["From"] = "bench@example.org"
    msg["To"] = "sink@example.org"
    msg["Subject"] = "payload"
    msg.set_content("The payload is attached.")
    with open(payload, "rb") as f:
        msg.add_attachment(f.read(), maintype="application", subtype="octet-stream",
                           filename=os.path.basename(payload))
    if tls == "1":
        # The certificate is not checked, as with curl -k and plonemail's
        # VerifyPeer=0: no trust store is read.
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        smtp = smtplib.SMTP_SSL(host, int(port), context=context)
    else:
        smtp = smtplib.SMTP(host, int(port))
    with smtp:
        smtp.send_message(msg)


if __name__ == "__main__":
    main(*sys.argv[1:])
