#include <gtest/gtest.h>

#include "mail/header_encoding.h"
#include "mail/header_list.h"
#include "support/scoped_env.h"

using namespace ferry;
using namespace ferry::test;

namespace {

std::string Q(const std::string& text, const std::string& specials = "") {
    return EncodeHeaderText(text, specials, 'Q', TTransfer::bit8, "ISO-8859-1");
}

std::vector<std::string> EncodedWords(const std::string& s) {
    std::vector<std::string> words;
    for (size_t p = s.find("=?"); p != std::string::npos; p = s.find("=?", p + 2)) {
        size_t q1 = s.find('?', p + 2);
        size_t q2 = s.find('?', q1 + 1);
        size_t end = s.find("?=", q2 + 1);
        words.push_back(s.substr(p, end + 2 - p));
        p = end;
    }
    return words;
}

} // namespace

TEST(HeaderEncodingTest, QuotedPrintableWords) {
    EXPECT_EQ(Q("Notification Message!"), "Notification Message!");
    EXPECT_EQ(Q(""), "");
    EXPECT_EQ(Q("Zo\xEB Ek"), "=?ISO-8859-1?Q?Zo=EB?= Ek");
    EXPECT_EQ(Q("Zo\xEB \xC9k"), "=?ISO-8859-1?Q?Zo=EB_=C9k?=");
    EXPECT_EQ(Q("a Zo\xEB b"), "a =?ISO-8859-1?Q?Zo=EB?= b");
    // Inside an encoded word "?", "=" and "_" are quoted too.
    EXPECT_EQ(Q("\xEB?=_x"), "=?ISO-8859-1?Q?=EB=3F=3D=5Fx?=");
    // Control characters inside a stretch are encoded.
    EXPECT_EQ(Q("\xEB\t\xEB"), "=?ISO-8859-1?Q?=EB=09=EB?=");
    // Specials force encoding of the word that holds them.
    EXPECT_EQ(Q("Lee, Ann", ","), "=?ISO-8859-1?Q?Lee=2C?= Ann");
    EXPECT_EQ(EncodeHeaderText("Zo\xEB", "", '8', TTransfer::bit8, "x"), "Zo\xEB");
}

TEST(HeaderEncodingTest, EqualsSignIsEncodedOnlyBesideAnEncodedWord) {
    EXPECT_EQ(Q("a=b"), "a=b");
    EXPECT_EQ(Q("=?x"), "=?x");
    // Text that would decode to something else is itself encoded.
    EXPECT_EQ(Q("=?utf-8?Q?hi?= a=b"), "=?ISO-8859-1?Q?=3D=3Futf-8=3FQ=3Fhi=3F=3D_a=3Db?=");
}

TEST(HeaderEncodingTest, LongTextSplitsIntoWordsOfAtMost75) {
    std::string name;
    for (int i = 0; i < 12; ++i)
        name += "\xC5ngstr\xF6m ";
    name += "\xD8";
    for (char letter : {'Q', 'B'}) {
        std::string enc = EncodeHeaderText(name, "", letter, TTransfer::bit8, "ISO-8859-1");
        std::vector<std::string> words = EncodedWords(enc);
        ASSERT_GT(words.size(), 2u) << letter;
        for (const std::string& w : words)
            EXPECT_LE(w.size(), 75u) << w;
        // Encoded words are joined by CR LF space, which the header list keeps as breaks.
        TIdHeaderList h;
        h.SetValue("To", enc + " <a@h>");
        EXPECT_GE(h.Count(), words.size()) << letter;
        for (size_t i = 0; i < h.Count(); ++i)
            EXPECT_LE(h[i].size(), 78u) << h[i];
    }
    // Base64 of one stretch, padded.
    EXPECT_EQ(EncodeHeaderText("\xE9", "", 'B', TTransfer::bit8, "KOI8-R"), "=?KOI8-R?B?6Q==?=");
    EXPECT_EQ(EncodeHeaderText("\xE9\xE9", "", 'B', TTransfer::bit8, "KOI8-R"),
              "=?KOI8-R?B?6ek=?=");
}

TEST(HeaderEncodingTest, CharsetFromTheLocale) {
    struct Row {
        const char* locale;
        const char* charset;
        char letter;
        TTransfer transfer;
    };
    const Row rows[] = {
        {"ja_JP.UTF-8", "ISO-2022-JP", 'B', TTransfer::iso2022jp},
        {"zh_CN.GB2312", "GB2312", 'B', TTransfer::bit8},
        {"zh_TW.Big5", "Big5", 'B', TTransfer::bit8},
        {"zh_HK", "Big5", 'B', TTransfer::bit8},
        {"ko_KR.EUC-KR", "csEUCKR", 'B', TTransfer::bit8},
        {"ru_RU.KOI8-R", "KOI8-R", 'B', TTransfer::bit8},
        {"uk_UA.UTF-8", "windows-1251", 'B', TTransfer::bit8},
        {"de_DE@euro", "ISO-8859-1", 'Q', TTransfer::bit8},
        {"C", "ISO-8859-1", 'Q', TTransfer::bit8},
        {"POSIX", "ISO-8859-1", 'Q', TTransfer::bit8},
        {"", "ISO-8859-1", 'Q', TTransfer::bit8},
    };
    for (const Row& row : rows) {
        THeaderCharset cs = HeaderCharsetForLocale(row.locale);
        EXPECT_EQ(cs.CharSet, row.charset) << row.locale;
        EXPECT_EQ(cs.HeaderEncoding, row.letter) << row.locale;
        EXPECT_EQ(cs.Transfer, row.transfer) << row.locale;
    }

    // LC_ALL, then LC_CTYPE, then LANG.
    ScopedEnv all("LC_ALL", nullptr);
    ScopedEnv ctype("LC_CTYPE", nullptr);
    ScopedEnv lang("LANG", "ru_RU.KOI8-R");
    EXPECT_EQ(DefaultHeaderCharset().CharSet, "KOI8-R");
    {
        ScopedEnv c("LC_CTYPE", "ko_KR");
        EXPECT_EQ(DefaultHeaderCharset().CharSet, "csEUCKR");
        ScopedEnv a("LC_ALL", "ja_JP");
        EXPECT_EQ(DefaultHeaderCharset().CharSet, "ISO-2022-JP");
    }
    ScopedEnv none("LANG", nullptr);
    EXPECT_EQ(DefaultHeaderCharset().CharSet, "ISO-8859-1");
}

TEST(HeaderEncodingTest, AddressHeaderForms) {
    THeaderCharset ru = HeaderCharsetForLocale("ru_RU.KOI8-R");
    TIdEMailAddressItem item;
    item.Address = "z@h";
    item.Name = "Zo\xEB Ek";
    EXPECT_EQ(FormatAddressForHeader(item, false, ru.HeaderEncoding, ru.Transfer, ru.CharSet),
              "=?KOI8-R?B?Wm/r?= Ek <z@h>");
    EXPECT_EQ(FormatAddressForHeader(item, false, 'Q', TTransfer::bit8, "ISO-8859-1"),
              "=?ISO-8859-1?Q?Zo=EB?= Ek <z@h>");

    // Printable names are quoted, with quotes and backslashes escaped.
    item.Name = "Lee, \"Ann\" \\";
    EXPECT_EQ(FormatAddressForHeader(item, false, 'Q', TTransfer::bit8, "ISO-8859-1"),
              "\"Lee, \\\"Ann\\\" \\\\\" <z@h>");
    // Specials next to non-ASCII letters are encoded with them.
    item.Name = "\xC5.Lee";
    EXPECT_EQ(FormatAddressForHeader(item, false, 'Q', TTransfer::bit8, "ISO-8859-1"),
              "=?ISO-8859-1?Q?=C5=2ELee?= <z@h>");

    TIdEMailAddressList list;
    EXPECT_EQ(FormatAddressListForHeader(list, true, 'Q', TTransfer::bit8, "ISO-8859-1"), "");
    list.SetAddressesText("a@h, Bo <b@h>");
    EXPECT_EQ(FormatAddressListForHeader(list, false, 'Q', TTransfer::bit8, "ISO-8859-1"),
              "a@h, \"Bo\" <b@h>");
    EXPECT_EQ(list[0].Name, "");
    EXPECT_EQ(FormatAddressListForHeader(list, true, 'Q', TTransfer::bit8, "ISO-8859-1"),
              "\"a@h\" <a@h>, \"Bo\" <b@h>");
    EXPECT_EQ(list[0].Name, "a@h"); // the item took its address as its name
}
