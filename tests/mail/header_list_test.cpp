#include <gtest/gtest.h>

#include "mail/header_encoding.h"
#include "mail/header_list.h"

using namespace ferry;

namespace {

using Lines = std::vector<std::string>;

// Eighteen-character addresses: "r1@example.test.ab" and so on.
std::string Address18(int i) {
    std::string a = "r" + std::to_string(i) + "@example.test.ab";
    a.resize(18, 'x');
    return a;
}

std::string AddressList(int count) {
    std::string s;
    for (int i = 1; i <= count; ++i)
        s += (i > 1 ? ", " : "") + Address18(i);
    return s;
}

Lines Set(const std::string& name, const std::string& value) {
    TIdHeaderList h;
    h.SetValue(name, value);
    return h.Lines();
}

} // namespace

TEST(HeaderFoldTest, AddressLinesBreakAfterCommas) {
    Lines seven = Set("To", AddressList(7));
    ASSERT_EQ(seven.size(), 2u);
    EXPECT_EQ(seven[0], "To: " + AddressList(3) + ",");
    EXPECT_EQ(seven[0].size(), 63u);
    EXPECT_EQ(seven[1],
              " " + Address18(4) + ", " + Address18(5) + ", " + Address18(6) + ", " + Address18(7));
    EXPECT_EQ(seven[1].size(), 79u);

    Lines nine = Set("To", AddressList(9));
    ASSERT_EQ(nine.size(), 3u);
    EXPECT_EQ(nine[0], "To: " + AddressList(3) + ",");
    for (size_t i = 1; i < nine.size(); ++i) {
        EXPECT_EQ(nine[i][0], ' ');
        EXPECT_NE(nine[i][1], ' ');
        EXPECT_NE(nine[i].back(), ' ');
    }
    EXPECT_EQ(nine[1].back(), ',');
    EXPECT_EQ(nine[2], " " + Address18(7) + ", " + Address18(8) + ", " + Address18(9));

    // The unfolded value gives the list back.
    TIdHeaderList h;
    h.SetValue("To", AddressList(9));
    EXPECT_EQ(h.Values("to"), AddressList(9));
}

TEST(HeaderFoldTest, LongSenderFoldsBeforeTheBracket) {
    TIdEMailAddressList from;
    from.Add().Address = std::string(70, 's') + "@h";
    ASSERT_EQ(from[0].Address.size(), 72u);
    TIdHeaderList h;
    h.SetValue("From", FormatAddressListForHeader(from, true, 'Q', TTransfer::bit8, "ISO-8859-1"));
    ASSERT_EQ(h.Count(), 2u);
    EXPECT_EQ(h[0], "From: \"" + from[0].Address + "\"");
    EXPECT_EQ(h[1], " <" + from[0].Address + ">");
}

TEST(HeaderFoldTest, LimitsQuotesAndExistingBreaks) {
    // "Subject: " is nine characters: 78 in all stays whole, 79 folds at the last blank.
    std::string v69 = std::string(34, 'a') + " " + std::string(34, 'b');
    EXPECT_EQ(Set("Subject", v69).size(), 1u);
    EXPECT_EQ(Set("Subject", v69 + "b").size(), 1u); // one character left: no break text
    EXPECT_EQ(Set("Subject", v69 + "bb"),
              (Lines{"Subject: " + std::string(34, 'a'), " " + std::string(36, 'b')}));

    // Trailing blanks are dropped, also on a line too short to fold.
    EXPECT_EQ(Set("Subject", "hello   "), Lines{"Subject: hello"});

    // No break inside a quoted stretch, however long.
    std::string quoted = "\"" + std::string(40, 'q') + " " + std::string(40, 'q') + "\"";
    EXPECT_EQ(Set("X", quoted), Lines{"X: " + quoted});

    // An existing CR LF space break is kept where it is and gets no second break text.
    EXPECT_EQ(Set("X", "short\r\n tail" + std::string(80, 't')),
              (Lines{"X: short", " tail" + std::string(80, 't')}));
    EXPECT_EQ(Set("X", "a\r\n b"), (Lines{"X: a", " b"}));
}

TEST(HeaderFoldTest, LineBreaksInValuesCannotStartNewHeaders) {
    // Bare breaks, and breaks followed by no blank, become continuation lines; empty lines,
    // which would end the header block, are dropped.
    EXPECT_EQ(Set("Subject", "a\r\nBcc: x@h"), (Lines{"Subject: a", " Bcc: x@h"}));
    EXPECT_EQ(Set("Subject", "a\nb\rc"), (Lines{"Subject: a", " b", " c"}));
    EXPECT_EQ(Set("Subject", "a\r\n\r\n\r\nDATA"), (Lines{"Subject: a", " DATA"}));
    EXPECT_EQ(Set("Subject", "a\r\n \r\n b"), (Lines{"Subject: a", " b"}));
}

TEST(HeaderFoldTest, DoubleByteCharactersAreNeverSplit) {
    // 0x81 0x20 is taken as one double-byte character: its trail byte is not a break.
    std::string jp;
    for (int i = 0; i < 50; ++i)
        jp += "\x81\x20";
    std::string folded = FoldHeaderText("X: " + jp + " end", 78, IsShiftJisLeadByte);
    EXPECT_EQ(folded, "X: \r\n " + jp + " \r\n end");
    // Without the rule the trail byte is taken for a blank and the character is cut in two.
    std::string plain = FoldHeaderText("X: " + jp + " end", 78, nullptr);
    EXPECT_NE(plain.find("\x81 \r\n \x81"), std::string::npos);
}

TEST(HeaderListTest, SetFindGetAndRemove) {
    TIdHeaderList h;
    h.SetValue("From", "a@h");
    h.SetValue("To", AddressList(9)); // three lines
    h.SetValue("Date", "d");
    ASSERT_EQ(h.Count(), 5u);
    EXPECT_EQ(h.IndexOfName("TO"), 1);
    EXPECT_EQ(h.IndexOfName("Cc"), -1);
    EXPECT_EQ(h.Values("Cc"), "");

    // An existing name keeps its place, its old continuation lines go.
    h.SetValue("to", "b@h");
    EXPECT_EQ(h.Lines(), (Lines{"From: a@h", "to: b@h", "Date: d"}));

    // An empty value removes the header with its continuation lines; absent: no change.
    h.SetValue("To", AddressList(9));
    h.SetValue("To", "");
    EXPECT_EQ(h.Lines(), (Lines{"From: a@h", "Date: d"}));
    h.SetValue("Cc", "");
    EXPECT_EQ(h.Count(), 2u);

    // Reading joins continuation lines with one space; with unfolding off only the first line.
    TIdHeaderList raw;
    raw.Add("Subject:  one  ");
    raw.Add("\t two ");
    raw.Add(" three");
    raw.Add("X: y");
    EXPECT_EQ(raw.Values("subject"), "one two three");
    raw.UnfoldLines = false;
    EXPECT_EQ(raw.Values("subject"), "one");

    // Case-sensitive names when asked for.
    raw.CaseSensitive = true;
    EXPECT_EQ(raw.IndexOfName("subject"), -1);

    TIdHeaderList copy;
    copy.Add("Old: 1");
    copy.Assign(h);
    EXPECT_EQ(copy.Lines(), h.Lines());
    copy.AddStrings(raw);
    EXPECT_EQ(copy.Count(), 6u);
    EXPECT_EQ(copy[3], "\t two ");
    copy.AddStrings(copy);
    EXPECT_EQ(copy.Count(), 12u);
    copy.Clear();
    EXPECT_EQ(copy.Count(), 0u);
}
