#include <gtest/gtest.h>

#include "mail/header_encoding.h"
#include "mail/message_writer.h"
#include "platform/codepage.h"
#include "support/code_page_scope.h"
#include "support/scoped_env.h"

#include <unicode/utf8.h>

using namespace ferry;
using namespace ferry::test;

namespace {

// Records every send the line layer would make: one per WriteLine outside a collecting
// phase, one per EndBuffering with something collected.
class RecordingWriter : public TIdLineWriter {
public:
    std::vector<std::string> Sends;
    int FailAfterLines = -1;

    void WriteLine(const std::string& text) override {
        if (FailAfterLines == 0)
            throw EIdException("Connection Closed Gracefully.");
        if (FailAfterLines > 0)
            --FailAfterLines;
        if (Buffering_)
            Pending_ += text + "\r\n";
        else
            Sends.push_back(text + "\r\n");
    }
    void BeginBuffering(int) override {
        Buffering_ = true;
        Pending_.clear();
    }
    void EndBuffering() override {
        if (!Pending_.empty())
            Sends.push_back(Pending_);
        Pending_.clear();
        Buffering_ = false;
    }
    std::string All() const {
        std::string s;
        for (const std::string& x : Sends)
            s += x;
        return s;
    }

private:
    bool Buffering_ = false;
    std::string Pending_;
};

// The notification as the program fills it.
void FillNotification(TIdMessage& m, const std::string& from, const std::string& to,
                      const std::string& body) {
    m.From().Address = from;
    m.Recipients.SetAddressesText(to);
    m.Subject = "Notification Message!";
    m.SetBodyText(body);
}

std::string Written(TIdMessage& m) {
    RecordingWriter w;
    TIdMessageWriter().TransmitMessage(w, m, false);
    return w.All();
}

const std::time_t kMonday = UtcTime(2026, 12, 7, 4, 5, 9); // 14:05:09 at +1000

} // namespace

TEST(MessageTest, NotificationIsWrittenByteForByte) {
    ScopedLocale locale("en_US.UTF-8");
    ScopedEnv tz("TZ", "AEST-10");
    ScopedClock clock(kMonday);

    TIdMessage m;
    FillNotification(m, "s@h", "a@h; b@h", "Files have been processed.");
    RecordingWriter w;
    TIdMessageWriter().TransmitMessage(w, m, false);

    ASSERT_EQ(w.Sends.size(), 4u); // the header block at once, then line by line
    EXPECT_EQ(w.Sends[0], "From: \"s@h\" <s@h>\r\n"
                          "Subject: Notification Message!\r\n"
                          "To: a@h, b@h\r\n"
                          "Date: Mon, 7 Dec 2026 14:05:09 +1000\r\n");
    EXPECT_EQ(w.Sends[1], "\r\n");
    EXPECT_EQ(w.Sends[2], "Files have been processed.\r\n");
    EXPECT_EQ(w.Sends[3], "\r\n");
    // Composing named the sender after its address; writing again gives the same bytes.
    EXPECT_EQ(m.From().Name, "s@h");
    EXPECT_EQ(Written(m), w.All());
    EXPECT_EQ(m.Encoding, mePlainText);
}

TEST(MessageTest, DateLineFollowsTheZoneAndTheCalendar) {
    ScopedLocale locale("C");
    struct Row {
        const char* tz;
        std::time_t when;
        const char* date;
    };
    const Row rows[] = {
        {"EST5", UtcTime(2026, 12, 7, 19, 5, 9), "Mon, 7 Dec 2026 14:05:09 -0500"},
        {"IST-5:30", UtcTime(2026, 12, 7, 8, 35, 9), "Mon, 7 Dec 2026 14:05:09 +0530"},
        {"UTC0", UtcTime(2026, 12, 7, 14, 5, 9), "Mon, 7 Dec 2026 14:05:09 +0000"},
        {"UTC0", UtcTime(2026, 12, 1, 0, 0, 0), "Tue, 1 Dec 2026 00:00:00 +0000"},
        {"AEST-10", UtcTime(2026, 12, 31, 23, 59, 59), "Fri, 1 Jan 2027 09:59:59 +1000"},
        // Daylight time in force: the offset of that moment.
        {"EST5EDT,M3.2.0,M11.1.0", UtcTime(2026, 7, 4, 16, 0, 0), "Sat, 4 Jul 2026 12:00:00 -0400"},
    };
    for (const Row& row : rows) {
        ScopedEnv tz("TZ", row.tz);
        ScopedClock clock(row.when);
        TIdMessage m;
        m.ComposeHeaders();
        EXPECT_EQ(m.LastGeneratedHeaders.Values("Date"), row.date) << row.tz;
    }

    // A fixed date is used as set, and the flag follows it.
    ScopedEnv tz("TZ", "UTC0");
    ScopedClock clock(UtcTime(2030, 1, 1, 0, 0, 0));
    TIdMessage m;
    EXPECT_TRUE(m.UseNowForDate());
    m.Date = UtcTime(2026, 3, 9, 8, 7, 6);
    EXPECT_FALSE(m.UseNowForDate());
    m.ComposeHeaders();
    EXPECT_EQ(m.LastGeneratedHeaders.Values("Date"), "Mon, 9 Mar 2026 08:07:06 +0000");
    m.SetUseNowForDate(true);
    EXPECT_EQ(m.Date, 0);
    m.SetUseNowForDate(false);
    EXPECT_EQ(m.Date, UtcTime(2030, 1, 1, 0, 0, 0));
}

TEST(MessageTest, BodyLinesAndDotDoubling) {
    ScopedLocale locale("C");
    ScopedEnv tz("TZ", "UTC0");
    ScopedClock clock(kMonday);

    TIdMessage m;
    m.SetBodyText("A\r\nB\nC\rD");
    EXPECT_EQ(m.Body, (std::vector<std::string>{"A", "B", "C", "D"}));
    m.SetBodyText("A\n\rB\r\n");
    EXPECT_EQ(m.Body, (std::vector<std::string>{"A", "", "B"}));
    m.SetBodyText(std::string("A\0B", 3));
    EXPECT_EQ(m.Body, std::vector<std::string>{"A"});
    m.SetBodyText("");
    EXPECT_TRUE(m.Body.empty());

    FillNotification(m, "s@h", "a@h", "");
    std::string text = Written(m);
    EXPECT_NE(text.find("\r\n\r\n\r\n"), std::string::npos); // separator, closing line
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");

    m.Body = {".", "..x", ".x", " .y", ""};
    RecordingWriter w;
    TIdMessageWriter().TransmitMessage(w, m, false);
    ASSERT_EQ(w.Sends.size(), 8u);
    EXPECT_EQ(w.Sends[2], "..\r\n");
    EXPECT_EQ(w.Sends[3], "...x\r\n");
    EXPECT_EQ(w.Sends[4], "..x\r\n");
    EXPECT_EQ(w.Sends[5], " .y\r\n");
    EXPECT_EQ(w.Sends[6], "\r\n");

    RecordingWriter headersOnly;
    TIdMessageWriter().TransmitMessage(headersOnly, m, true);
    EXPECT_EQ(headersOnly.Sends.size(), 1u);
}

TEST(MessageTest, SenderAndRecipientForms) {
    ScopedLocale locale("en_GB.ISO-8859-1");
    ScopedEnv tz("TZ", "UTC0");
    ScopedClock clock(kMonday);

    TIdMessage a;
    FillNotification(a, "a@h, b@h", "a@h, b@h", "x");
    a.ComposeHeaders();
    EXPECT_EQ(a.LastGeneratedHeaders.Values("To"), "a@h, b@h");

    TIdMessage q;
    FillNotification(q, "s\"x@h", "a@h", "x");
    q.ComposeHeaders();
    EXPECT_EQ(q.LastGeneratedHeaders[0], "From: \"s\\\"x@h\" <s\"x@h>");

    // The sender text is not parsed: a typed name stands inside the quotes and brackets.
    TIdMessage n;
    FillNotification(n, "Ann <s@h>", "a@h", "x");
    n.ComposeHeaders();
    EXPECT_EQ(n.LastGeneratedHeaders[0], "From: \"Ann <s@h>\" <Ann <s@h>>");

    // A non-ASCII recipient name becomes encoded words; the address stays as it is.
    TIdMessage e;
    FillNotification(e, "s@h", "Zo\xEB Ek <z@h>", "x");
    e.ComposeHeaders();
    EXPECT_EQ(e.LastGeneratedHeaders.Values("To"), "=?ISO-8859-1?Q?Zo=EB?= Ek <z@h>");

    // No sender and no recipients: neither line.
    TIdMessage empty;
    empty.ComposeHeaders();
    ASSERT_EQ(empty.LastGeneratedHeaders.Count(), 1u);
    EXPECT_EQ(empty.LastGeneratedHeaders.Lines()[0].substr(0, 6), "Date: ");
}

TEST(MessageTest, OptionalHeadersAndTheirOrder) {
    ScopedLocale locale("C");
    ScopedEnv tz("TZ", "UTC0");
    ScopedClock clock(kMonday);

    TIdMessage m;
    FillNotification(m, "s@h", "a@h", "x");
    m.Headers.Add("Subject: replaced");
    m.Headers.Add("X-First: kept");
    m.BccList.SetAddressesText("hidden@h");
    m.Headers.Add("Bcc: hidden@h");
    m.CCList.SetAddressesText("c@h");
    m.NewsGroups = {"comp.x", "a b"};
    m.Sender.Address = "snd@h";
    m.ReplyTo.SetAddressesText("r@h");
    m.Organization = "Org";
    m.ReceiptRecipient.Address = "rr@h";
    m.References = "<ref@h>";
    m.Priority = mpHighest;
    m.ExtraHeaders.SetValue("X-Mailer", "Agent 1");
    m.SetInReplyTo("id@h");
    EXPECT_EQ(m.InReplyTo(), "<id@h>");
    m.ComposeHeaders();
    EXPECT_EQ(m.LastGeneratedHeaders.Lines(),
              (std::vector<std::string>{
                  "Subject: Notification Message!", "X-First: kept", "From: \"s@h\" <s@h>",
                  "To: a@h", "Cc: c@h", "Newsgroups: comp.x,\"a b\"", "Sender: snd@h",
                  "Reply-To: r@h", "Organization: Org", "Disposition-Notification-To: rr@h",
                  "References: <ref@h>", "Date: Mon, 7 Dec 2026 04:05:09 +0000", "X-Priority: 1",
                  "X-Mailer: Agent 1", "In-Reply-To: <id@h>"}));

    // An empty agent removes the line again; the default priority writes none.
    m.ExtraHeaders.SetValue("X-Mailer", "");
    m.Priority = mpNormal;
    m.ComposeHeaders();
    EXPECT_EQ(m.LastGeneratedHeaders.IndexOfName("X-Mailer"), -1);
    EXPECT_EQ(m.LastGeneratedHeaders.IndexOfName("X-Priority"), -1);

    m.Clear();
    EXPECT_EQ(m.FromList.Count(), 0u);
    EXPECT_EQ(m.Headers.Count(), 0u);
    EXPECT_EQ(m.Priority, mpNormal);
    EXPECT_EQ(m.Encoding, meDefault);
    EXPECT_TRUE(m.UseNowForDate());
    EXPECT_EQ(m.InReplyTo(), "");
}

TEST(MessageTest, UnsupportedFormsAreRefusedBeforeAnythingIsWritten) {
    ScopedLocale locale("C");
    ScopedEnv tz("TZ", "UTC0");
    ScopedClock clock(kMonday);

    auto check = [](TIdMessage& m) {
        RecordingWriter w;
        EXPECT_THROW(TIdMessageWriter().TransmitMessage(w, m, false), EIdMessageFormatNotSupported);
        EXPECT_TRUE(w.Sends.empty());
    };
    TIdMessage parts;
    FillNotification(parts, "s@h", "a@h", "x");
    parts.MessageParts.push_back({"text/plain", "", {"part"}});
    check(parts);
    TIdMessage mime;
    FillNotification(mime, "s@h", "a@h", "x");
    mime.Encoding = meMIME;
    check(mime);
    TIdMessage b64;
    FillNotification(b64, "s@h", "a@h", "x");
    b64.ContentTransferEncoding = "Base64";
    check(b64);

    // The raw form writes Headers and Body as they stand.
    TIdMessage raw;
    raw.NoEncode = true;
    raw.Headers.Add("X-Raw: 1");
    raw.Body = {".dot"};
    EXPECT_EQ(Written(raw), "X-Raw: 1\r\n\r\n.dot\r\n");
}

TEST(MessageTest, LineBreaksInFieldsCannotForgeHeadersOrEndTheData) {
    ScopedLocale locale("C");
    ScopedEnv tz("TZ", "UTC0");
    ScopedClock clock(kMonday);
    TIdMessage m;
    FillNotification(m, "s@h\r\nBcc: evil@h", "a@h", "x");
    m.Subject = "hi\n\nbody";
    m.Body = {"one\r\n.\r\nMAIL FROM:<x@h>", "two"};
    RecordingWriter w;
    TIdMessageWriter().TransmitMessage(w, m, false);
    // The name holds control characters, so it is encoded; the address is kept but can only
    // continue the From line.
    EXPECT_EQ(w.Sends[0], "From: =?ISO-8859-1?Q?s=40h=0D=0ABcc=3A_evil=40h?= <s@h\r\n"
                          " Bcc: evil@h>\r\n"
                          "Subject: hi\r\n body\r\n"
                          "To: a@h\r\n"
                          "Date: Mon, 7 Dec 2026 04:05:09 +0000\r\n");
    EXPECT_EQ(m.LastGeneratedHeaders.IndexOfName("Bcc"), -1);
    std::vector<std::string> body(w.Sends.begin() + 1, w.Sends.end());
    EXPECT_EQ(body, (std::vector<std::string>{"\r\n", "one\r\n", "..\r\n", "MAIL FROM:<x@h>\r\n",
                                              "two\r\n", "\r\n"}));
}

TEST(MessageTest, FailedWriteStillSendsWhatWasCollected) {
    ScopedLocale locale("C");
    ScopedEnv tz("TZ", "UTC0");
    ScopedClock clock(kMonday);
    TIdMessage m;
    FillNotification(m, "s@h", "a@h", "x");
    RecordingWriter w;
    w.FailAfterLines = 2;
    EXPECT_THROW(TIdMessageWriter().TransmitMessage(w, m, false), EIdException);
    ASSERT_EQ(w.Sends.size(), 1u);
    EXPECT_EQ(w.Sends[0], "From: \"s@h\" <s@h>\r\nSubject: Notification Message!\r\n");
}

TEST(MessageTest, JapaneseLocaleConvertsHeadersAndBody) {
    ScopedLocale locale("ja_JP.SJIS");
    ScopedEnv tz("TZ", "JST-9");
    ScopedClock clock(kMonday);
    TIdMessage m;
    FillNotification(m, "s@h", "a@h", ".\x93\xfa");
    m.Subject = "\x93\xfa";
    std::vector<std::string> seen;
    m.OnInitializeISO = [&](TTransfer& t, char& e, std::string& cs) {
        seen.push_back(cs);
        EXPECT_EQ(t, TTransfer::iso2022jp);
        EXPECT_EQ(e, 'B');
    };
    RecordingWriter w;
    TIdMessageWriter().TransmitMessage(w, m, false);
    EXPECT_EQ(seen, (std::vector<std::string>{"ISO-2022-JP", "ISO-2022-JP"}));
    // ESC $B 0x46 0x7C ESC (B, base64-encoded.
    EXPECT_EQ(m.LastGeneratedHeaders.Values("Subject"), "=?ISO-2022-JP?B?GyRCRnwbKEI=?=");
    ASSERT_EQ(w.Sends.size(), 4u);
    EXPECT_EQ(w.Sends[2], "..\x1B$BF|\x1B(B\r\n");

    // The handler may choose another set.
    m.OnInitializeISO = [](TTransfer& t, char& e, std::string& cs) {
        t = TTransfer::bit8;
        e = 'Q';
        cs = "Shift_JIS";
    };
    m.ComposeHeaders();
    EXPECT_EQ(m.LastGeneratedHeaders.Values("Subject"), "=?Shift_JIS?Q?=93=FA?=");
}

TEST(MessageTest, Utf8SenderNameAndBodyAreWrittenByteForByte) {
    FERRY_IN_LOCALE("en_US.UTF-8");
    ScopedLocale locale("ru_RU.UTF-8");
    ScopedEnv tz("TZ", "AEST-10");
    ScopedClock clock(kMonday);

    TIdMessage m;
    FillNotification(m, "ivan@example.org", "a@h", "Счёт №5 оплачен.\r\nΣ ok");
    m.From().Name = "Иван Петров";
    EXPECT_EQ(Written(m), "From: =?UTF-8?B?0JjQstCw0L0g0J/QtdGC0YDQvtCy?= <ivan@example.org>\r\n"
                          "Subject: Notification Message!\r\n"
                          "To: a@h\r\n"
                          "MIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=UTF-8\r\n"
                          "Content-Transfer-Encoding: 8bit\r\n"
                          "Date: Mon, 7 Dec 2026 14:05:09 +1000\r\n"
                          "\r\n"
                          "Счёт №5 оплачен.\r\n"
                          "Σ ok\r\n"
                          "\r\n");

    // An all-ASCII message keeps exactly the plain form, in UTF-8 as everywhere.
    TIdMessage plain;
    FillNotification(plain, "s@h", "a@h; b@h", "Files have been processed.");
    EXPECT_EQ(Written(plain), "From: \"s@h\" <s@h>\r\n"
                              "Subject: Notification Message!\r\n"
                              "To: a@h, b@h\r\n"
                              "Date: Mon, 7 Dec 2026 14:05:09 +1000\r\n"
                              "\r\n"
                              "Files have been processed.\r\n"
                              "\r\n");

    // In the language's own letter: "Q" outside the table's languages (the line is then
    // long enough to be folded).
    ScopedLocale english("en_US.UTF-8");
    EXPECT_EQ(DefaultHeaderCharset().CharSet, "UTF-8");
    const std::string q = Written(m);
    EXPECT_NE(q.find("From:\r\n =?UTF-8?Q?=D0=98=D0=B2=D0=B0=D0=BD_=D0=9F=D0=B5=D1=82="
                     "D1=80=D0=BE=D0=B2?=\r\n <ivan@example.org>\r\n"),
              std::string::npos)
        << q;
}

TEST(MessageTest, Utf8EncodedWordsNeverCutACharacter) {
    FERRY_IN_LOCALE("en_US.UTF-8");
    // Every character length, enough of them for several words in either letter.
    const std::string name = "Ж€😀aЖ€😀aЖ€😀aЖ€😀aЖ€😀aЖ€😀aЖ€😀aЖ€😀aЖ€😀aЖ€😀aЖ€😀a Ж€😀aЖ€😀aЖ€😀aЖ€😀a";
    for (char letter : {'B', 'Q'}) {
        SCOPED_TRACE(letter);
        const std::string encoded = EncodeHeaderText(name, "", letter, TTransfer::bit8, "UTF-8");
        std::string joined;
        std::size_t words = 0;
        for (std::size_t at = 0; (at = encoded.find("=?UTF-8?", at)) != std::string::npos;) {
            const std::size_t end = encoded.find("?=", at + 10) + 2;
            ASSERT_LE(end - at, 75u);
            const std::string body = encoded.substr(at + 10, end - at - 12);
            std::string bytes;
            if (letter == 'B') {
                static const std::string alphabet =
                    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
                uint32_t bits = 0;
                int count = 0;
                for (char c : body) {
                    if (c == '=')
                        break;
                    bits = (bits << 6) | static_cast<uint32_t>(alphabet.find(c));
                    if ((count += 6) >= 8)
                        bytes += static_cast<char>((bits >> (count -= 8)) & 0xFF);
                }
            } else {
                for (std::size_t i = 0; i < body.size(); ++i) {
                    if (body[i] == '=') {
                        bytes += static_cast<char>(std::stoi(body.substr(i + 1, 2), nullptr, 16));
                        i += 2;
                    } else {
                        bytes += body[i] == '_' ? ' ' : body[i];
                    }
                }
            }
            // Each word decodes alone to whole characters.
            const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
            for (int32_t i = 0, n = static_cast<int32_t>(bytes.size()); i < n;) {
                UChar32 c;
                U8_NEXT(p, i, n, c);
                ASSERT_GE(c, 0) << bytes;
            }
            joined += bytes;
            ++words;
            at = end;
        }
        EXPECT_GT(words, 2u);
        EXPECT_EQ(joined, name);
    }
}
