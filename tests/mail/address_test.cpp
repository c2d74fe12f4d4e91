#include <gtest/gtest.h>

#include "mail/address.h"

using namespace ferry;

namespace {

struct Parsed {
    std::string Name, Address;
    bool operator==(const Parsed&) const = default;
};

std::vector<Parsed> Parse(const std::string& text) {
    TIdEMailAddressList list;
    list.SetAddressesText(text);
    std::vector<Parsed> out;
    for (size_t i = 0; i < list.Count(); ++i)
        out.push_back({list[i].Name, list[i].Address});
    return out;
}

std::ostream& operator<<(std::ostream& os, const Parsed& p) {
    return os << "{name '" << p.Name << "', address '" << p.Address << "'}";
}

} // namespace

TEST(AddressListTest, SplittingTypedRecipients) {
    using V = std::vector<Parsed>;
    const V two{{"", "a@h"}, {"", "b@h"}};
    struct Row {
        const char* text;
        V expected;
    };
    const Row rows[] = {
        {"a@h, b@h", two},
        {"a@h; b@h", two},
        {"a@h;b@h", two},
        {"a@h,,b@h", two},
        {"a@h b@h", {{"", "a@hb@h"}}},
        {"a@h\tb@h", {{"", "a@h\tb@h"}}},
        {"Lee, Ann <a@h>", {{"", "Lee"}, {"Ann", "a@h"}}},
        {"a@h,", {{"", "a@h"}}},
        {"", {}},
        {" \t ", {}},
        {"Ann Lee <a@h>", {{"Ann Lee", "a@h"}}},
        {"\"Lee, Ann\" <a@h>", {{"Lee, Ann", "a@h"}}},
        {"a@h (Ann)", {{"", "a@h"}}},
        {"Ann Lee a@h", {{"Ann Lee ", "a@h"}}},
        {"<>", {{"", ""}}},
        {"<>, a@h", {{"", "a@h"}}},
        {"grp: a@h, b@h;", two},
        {"<\"a b\"@h>", {{"", "a b@h"}}},
        {"a@h;;", {{"", "a@h"}}},
        {"(a, b) x@h", {{"", "x@h"}}},
        {"<a@ h . example>", {{"", "a@h.example"}}},
        {"<a b@h>", {{"", "a b@h"}}},
        {"\"A \\\"B\\\"\" <a@h>", {{"A \"B\"", "a@h"}}},
        {"Ann Lee", {{"Ann ", ""}}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Parse(row.text), row.expected) << "text: " << row.text;
}

TEST(AddressListTest, AtSignOutsideAddressKeepsItemsMadeBefore) {
    TIdEMailAddressList list;
    try {
        list.SetAddressesText("x@h, <a@h> b@h, c@h");
        FAIL();
    } catch (const EIdEmailParseError& e) {
        EXPECT_EQ(e.message(), "@ Outside address");
    }
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list[0].Address, "x@h");
    EXPECT_EQ(list[1].Address, "a@h"); // the failing item with what it had read

    TIdEMailAddressItem item;
    EXPECT_THROW(item.SetText("<a@h> b@h"), EIdEmailParseError);
}

TEST(AddressListTest, UnfinishedQuotesAndEscapesStayInsideTheText) {
    // A quoted stretch glued to the text before it keeps that text.
    EXPECT_EQ(Parse("Ann\"Lee\" <a@h>"), (std::vector<Parsed>{{"AnnLee", "a@h"}}));
    EXPECT_EQ(Parse("<x\"y\"@h>"), (std::vector<Parsed>{{"", "xy@h"}}));
    // A backslash at the very end escapes nothing and nothing before it is lost.
    EXPECT_EQ(Parse("a@h, \"Ann\\"), (std::vector<Parsed>{{"", "a@h"}, {"Ann", ""}}));
    EXPECT_EQ(Parse("a@h, (x\\"), (std::vector<Parsed>{{"", "a@h"}}));
    TIdEMailAddressItem item;
    item.SetText("\"x\\");
    EXPECT_EQ(item.Name, "x");
}

TEST(AddressItemTest, TextFormsAndRoundTrip) {
    TIdEMailAddressItem item;
    item.Address = "a@h";
    EXPECT_EQ(item.Text(), "a@h");
    item.Name = "Ann Lee";
    EXPECT_EQ(item.Text(), "Ann Lee <a@h>");
    item.Name = "Lee, Ann";
    EXPECT_EQ(item.Text(), "\"Lee, Ann\" <a@h>");
    item.Name = "A\\B\"";
    EXPECT_EQ(item.Text(), "\"A\\\\B\\\"\" <a@h>");
    item.Name = "A@H"; // the address in capitals counts as no name
    EXPECT_EQ(item.Text(), "<a@h>");

    item.Name = "";
    item.Address = "a b@h";
    EXPECT_EQ(item.Text(), "<\"a b\"@h>");
    item.Address = "a\"b@h";
    EXPECT_EQ(item.FormatAddress(), "<\"a\\\"b\"@h>");
    item.Address = "a.b@h";
    EXPECT_EQ(item.FormatAddress(), "a.b@h");
    item.Address = "";
    EXPECT_EQ(item.FormatAddress(), "");
    item.Name = "Ann";
    EXPECT_EQ(item.FormatAddress(), "<>");

    TIdEMailAddressList list;
    list.Add().Name = "Ann Lee";
    list[0].Address = "a@h";
    list.Add().Address = "b@h";
    list.Add(); // neither name nor address: dropped on the way back
    list.Add().Address = "a b@h";
    EXPECT_EQ(list.AddressesText(), "Ann Lee <a@h>, b@h, , <\"a b\"@h>");
    TIdEMailAddressList back;
    back.SetAddressesText(list.AddressesText());
    ASSERT_EQ(back.Count(), 3u);
    EXPECT_EQ(back[0].Name, "Ann Lee");
    EXPECT_EQ(back[0].Address, "a@h");
    EXPECT_EQ(back[1].Address, "b@h");
    EXPECT_EQ(back[2].Address, "a b@h");
}

TEST(AddressItemTest, UserAndDomain) {
    TIdEMailAddressItem item;
    item.Address = "x@y@h";
    EXPECT_EQ(item.User(), "x@y");
    EXPECT_EQ(item.Domain(), "h");
    item.SetDomain("d");
    EXPECT_EQ(item.Address, "x@d");
    item.SetUser("u");
    EXPECT_EQ(item.Address, "u@d");
    item.Address = "plain";
    EXPECT_EQ(item.User(), "");
    EXPECT_EQ(item.Domain(), "");
    item.SetUser("u");
    EXPECT_EQ(item.Address, "u@plain");
    item.Address = "plain";
    item.SetDomain("d");
    EXPECT_EQ(item.Address, "plain@d");
}
