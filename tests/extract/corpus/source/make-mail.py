"""Mail files and UTF-16 text files for the extraction tests, written by Python's own email
package (the way mail programs write them: encoded words, base64, quoted-printable)."""
import sys
from email.message import EmailMessage
from email.policy import SMTP

out = sys.argv[1]

def mail(path, subject, sender, plain, html, charset, cte):
    m = EmailMessage(policy=SMTP)
    m["Subject"] = subject
    m["From"] = sender
    m["To"] = "accounts@example.org"
    m["Date"] = "Tue, 03 Dec 2024 09:15:00 +0100"
    m.set_content(plain, charset=charset, cte=cte)
    if html:
        m.add_alternative(html, subtype="html", charset=charset, cte=cte)
    with open(path, "wb") as f:
        f.write(m.as_bytes())

mail(out + "/mail-match.eml", "Счёт INVOICE 2024-118", "Τιμολόγια Γραφείο <billing@example.org>",
     "Customer account: ACME-7731\nPayment\nreference: QX-4417\nСчёт-фактура выставлена\n"
     "請求書番号 東京支店\n",
     "<p>Customer account: <b>ACME-</b>7731</p><p>Τιμολόγιο πελάτη</p>", "utf-8", "base64")
mail(out + "/mail-match-koi8.eml", "Счёт-фактура выставлена", "Бухгалтерия <buh@example.org>",
     "Счёт-фактура выставлена.\nCustomer account: ACME-7731\n", None, "koi8-r", "quoted-printable")
mail(out + "/mail-nomatch.eml", "Накладная DELIVERY 2024-119", "Αποθήκη <store@example.org>",
     "Customer account: BETA-1200\nShipping\nnote: ZK-5520\nНакладная отправлена\n"
     "納品書 大阪支店\n",
     "<p>Customer account: <b>BETA-</b>1200</p><p>Παραγγελία αποθήκης</p>", "utf-8",
     "quoted-printable")

text = ("Customer account: ACME-7731\r\nPayment\r\nreference: QX-4417\r\n"
        "Счёт-фактура выставлена\r\nΤιμολόγιο πελάτη\r\n請求書番号 東京支店\r\n")
other = ("Customer account: BETA-1200\r\nShipping\r\nnote: ZK-5520\r\n"
         "Накладная отправлена\r\nΠαραγγελία αποθήκης\r\n納品書 大阪支店\r\n")
with open(out + "/text-match-utf16le.txt", "wb") as f:
    f.write(b"\xff\xfe" + text.encode("utf-16-le"))
with open(out + "/text-match-utf16be.txt", "wb") as f:
    f.write(b"\xfe\xff" + text.encode("utf-16-be"))
with open(out + "/text-nomatch-utf16le.txt", "wb") as f:
    f.write(b"\xff\xfe" + other.encode("utf-16-le"))
