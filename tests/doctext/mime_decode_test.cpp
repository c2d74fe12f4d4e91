// Mail decoding, our own parser: the encodings cut and bent in the ways mail programs and
// forgers write them, and whole messages with nested parts in several character sets.
#include "doctext/mail_text.h"
#include "doctext/mime_decode.h"

#include <gtest/gtest.h>

namespace ferry {
namespace {

TEST(MimeDecodeTest, Base64AndQuotedPrintable) {
    const struct {
        const char* In;
        const char* Out;
    } b64[] = {
        {"SGVsbG8=", "Hello"},
        {"SGVs\r\nbG8h", "Hello!"},    // line breaks inside
        {"S G V s b G 8", "Hello"},    // junk between
        {"SGVsbG8=IGFmdGVy", "Hello"}, // ends at padding
        {"SGVsbG", "Hell"},            // cut: the whole bytes are kept
        {"", ""},
    };
    for (const auto& c : b64)
        EXPECT_EQ(DecodeBase64(c.In), c.Out) << c.In;

    const struct {
        const char* In;
        bool Header;
        const char* Out;
    } qp[] = {
        {"Caf=C3=A9", false, "Caf\xC3\xA9"},
        {"soft=\r\nbreak", false, "softbreak"},
        {"soft=  \nbreak", false, "softbreak"},
        {"trailing   \r\nspace", false, "trailing\r\nspace"},
        {"a=ZZb", false, "a=ZZb"}, // not an escape
        {"end=", false, "end"},
        {"end=4", false, "end=4"},
        {"a_b", true, "a b"},
        {"a_b", false, "a_b"},
        {"=c3=a9", false, "\xC3\xA9"}, // lower-case hex, as some writers send
    };
    for (const auto& c : qp)
        EXPECT_EQ(DecodeQuotedPrintable(c.In, c.Header), c.Out) << c.In;
}

TEST(MimeDecodeTest, EncodedWordsInHeaderFields) {
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        {"=?UTF-8?B?0KHRh9GR0YI=?=", "Счёт"},
        {"=?koi8-r?Q?=F3=DE=A3=D4?= INVOICE", "Счёт INVOICE"},
        {"=?UTF-8?Q?a?= =?UTF-8?Q?b?=", "ab"},             // space between words dropped
        {"=?UTF-8?Q?a?=\r\n =?UTF-8?Q?b?=", "ab"},         // also when folded
        {"x =?UTF-8?Q?a?= y", "x a y"},                    // kept beside plain words
        {"=?ISO-8859-7*el?B?1Ons7+v84+nv?=", "Τιμολόγιο"}, // with a language tag
        {"=?utf-8?q?caf=C3=A9_au_lait?=", "café au lait"},
        {"=?bogus-charset?Q?plain?=", "plain"},
        {"=?UTF-8?X?abc?=", "=?UTF-8?X?abc?="}, // unknown encoding: as it stands
        {"=?UTF-8?Q?no end", "=?UTF-8?Q?no end"},
        {"=?UTF-8?Q?has space?=", "=?UTF-8?Q?has space?="},
        {"=? utf-8?Q?a?=", "=? utf-8?Q?a?="}, // no token: no encoded word
        {"M\xFCller", "Müller"},              // raw Latin-1: read as 1252
        {"Müller", "Müller"},                 // raw UTF-8
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeHeaderWords(c.In), c.Out) << c.In;
}

TEST(MailTextTest, NestedPartsInTheirOwnCharsets) {
    const std::string message =
        "From: =?UTF-8?B?zpHPgM6/zrjOrs66zrc=?= <store@example.org>\r\n"
        "Subject: Order\r\n"
        " continued\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"outer\"\r\n"
        "\r\n"
        "preamble is not shown\r\n"
        "--outer\r\n"
        "Content-Type: multipart/alternative; boundary=inner\r\n"
        "\r\n"
        "--inner\r\n"
        "Content-Type: text/plain; charset=windows-1251\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n"
        "\r\n"
        "=D1=F7=B8=F2 ACME-=\r\n"
        "7731\r\n"
        "--inner\r\n"
        "Content-Type: text/html; charset=utf-8\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "\r\n"
        "PHA+PHNjcmlwdD5oaWRkZW4oKTwvc2NyaXB0PjxiPkhUTUw8L2I+IHBhcnQ8L3A+\r\n"
        "--inner--\r\n"
        "--outer\r\n"
        "Content-Type: image/png\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "\r\n"
        "iVBORw0KGgo=\r\n"
        "--outer\r\n"
        "Content-Type: message/rfc822\r\n"
        "\r\n"
        "Subject: forwarded\r\n"
        "\r\n"
        "Forwarded words\r\n"
        "--outer--\r\n"
        "epilogue is not shown\r\n";
    TextSink sink;
    ReadMail(message, sink);
    const DocumentText text = sink.Take();
    const std::vector<TextPiece> expected = {
        {"e-mail subject", "Order continued"}, {"e-mail sender", "Αποθήκη <store@example.org>"},
        {"e-mail body", "Счёт ACME-7731"},     {"e-mail body", "HTML part\n"},
        {"e-mail body", "Forwarded words"},
    };
    ASSERT_EQ(text.Pieces.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(text.Pieces[i].Label, expected[i].Label) << i;
        EXPECT_NE(text.Pieces[i].Text.find(expected[i].Text), std::string::npos)
            << i << ": " << text.Pieces[i].Text;
    }
}

TEST(MailTextTest, NestingAndPartCountAreBounded) {
    std::string deep = "From: a\r\nTo: b\r\n";
    for (int i = 0; i < 100; ++i)
        deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" +
                std::to_string(i) + "\r\n";
    TextSink sink;
    EXPECT_THROW(ReadMail(deep, sink), ReadFailure);

    std::string many = "From: a\r\nContent-Type: multipart/mixed; boundary=x\r\n\r\n";
    for (int i = 0; i < 3000; ++i)
        many += "--x\r\n\r\nw\r\n";
    TextSink sink2;
    EXPECT_THROW(ReadMail(many, sink2), ReadFailure);
}

} // namespace
} // namespace ferry
