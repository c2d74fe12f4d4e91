#!/usr/bin/python3
"""The peer of the notification benchmark: Python's smtplib sends the same notifications.

Usage: smtp_smtplib_peer.py PORT COUNT FROM TO BODY
Each notification is its own session (connect, EHLO, MAIL, RCPT, DATA, QUIT), as the
program's are, and carries the same header lines and body. Prints the seconds the COUNT
sessions took, timed around the sending loop only.
"""

import smtplib
import sys
import time

DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def date_text(now):
    t = time.localtime(now)
    off = t.tm_gmtoff // 60
    sign = "+" if off >= 0 else "-"
    off = abs(off)
    return "%s, %d %s %d %02d:%02d:%02d %s%02d%02d" % (
        DAYS[t.tm_wday], t.tm_mday, MONTHS[t.tm_mon - 1], t.tm_year,
        t.tm_hour, t.tm_min, t.tm_sec, sign, off // 60, off % 60)


def message(sender, to, body):
    quoted = sender.replace("\\", "\\\\").replace('"', '\\"')
    lines = [
        'From: "%s" <%s>' % (quoted, sender),
        "Subject: Notification Message!",
        "To: %s" % ", ".join(to),
        "Date: %s" % date_text(time.time()),
        "",
        body,
        "",
    ]
    return ("\r\n".join(lines) + "\r\n").encode("latin-1")


def main():
    port, count, sender, to, body = sys.argv[1:6]
    recipients = [a.strip() for a in to.replace(";", ",").split(",") if a.strip()]
    start = time.perf_counter()
    for _ in range(int(count)):
        with smtplib.SMTP("127.0.0.1", int(port)) as client:
            client.sendmail(sender, recipients, message(sender, recipients, body))
    print("%.6f" % (time.perf_counter() - start))


if __name__ == "__main__":
    main()
