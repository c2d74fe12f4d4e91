#!/usr/bin/python3
"""The peer of the TLS notification benchmark: Python's smtplib with STARTTLS and sign-in.

Usage: smtp_tls_smtplib_peer.py HOST PORT COUNT FROM TO BODY USER PASSWORD CAFILE
Each notification is its own session (connect, EHLO, STARTTLS, EHLO, AUTH, MAIL, RCPT, DATA,
QUIT) with the certificate verified against CAFILE, carrying the same message as the plain
peer. Prints the seconds the COUNT sessions took, timed around the sending loop only.
"""

import os
import smtplib
import ssl
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smtp_smtplib_peer import message  # noqa: E402


def main():
    host, port, count, sender, to, body, user, password, cafile = sys.argv[1:10]
    recipients = [a.strip() for a in to.replace(";", ",").split(",") if a.strip()]
    context = ssl.create_default_context(cafile=cafile)
    start = time.perf_counter()
    for _ in range(int(count)):
        with smtplib.SMTP(host, int(port)) as client:
            client.starttls(context=context)
            client.login(user, password)
            client.sendmail(sender, recipients, message(sender, recipients, body))
    print("%.6f" % (time.perf_counter() - start))


if __name__ == "__main__":
    main()
