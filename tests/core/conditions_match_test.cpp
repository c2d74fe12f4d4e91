#include "core/conditions/block_reader.h"
#include "core/conditions/folder_matcher.h"

#include "support/code_page_scope.h"
#include "support/fold_reference.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ferry {

namespace {

TaskConditions Task(const std::string& match, MatchKind kind = MatchKind::Text) {
    TaskConditions task;
    task.MatchString = match;
    task.Kind = kind;
    return task;
}

using test::MemorySource;

// Texts are written in UTF-8 here and given to the matcher in the system code page; false
// when the code page lacks one of their characters.
bool InCodePage(const std::string& utf8, std::string& out) {
    char32_t missing;
    return SystemCodePage().FromUtf16Exact(CodePage::Utf8().ToUtf16(utf8), out, missing);
}

std::string InCodePage(const std::string& utf8) {
    std::string out;
    InCodePage(utf8, out);
    return out;
}

// Shift JIS's ぁ is 82 9F, and 9F opens a character too: the next block's first bytes fall
// among them, and read from a wrong byte they would end in an "A", the second byte of ア.
const std::string kKana = [] {
    std::string s;
    for (int i = 0; i < 120; ++i)
        s += "ぁ";
    return s + "ア|ぁ";
}();

struct Case {
    MatchKind Kind;
    const char* Match;
    const char* Exclude;
    // The file's text; the first read block ends where '|' stands.
    const char* Text;
    bool Exact;    // holds when matching case-sensitively
    bool Caseless; // holds otherwise
};

const Case kCases[] = {
    {MatchKind::Text, "INVOICE", "", "invoice low|ercase here", false, true},
    {MatchKind::Text, "ACME-7731", "", "ref ACME|-7731.", true, true},
    {MatchKind::Text, "mail", "", "e|mails", true, true}, // one piece of text, no word rules
    {MatchKind::AnyWord, "invoice bill", "", "the BI|LL is due", false, true},
    {MatchKind::AnyWord, "invoice", "", "invo|ices only", false, false},
    {MatchKind::AnyWord, "\"ACME Ltd\" Globex", "", "glo|bex corp", false, true},
    {MatchKind::AnyWord, "invoice", "", "the invoice|s", false, false},
    {MatchKind::AnyWord, "can", "", "we ca|n't", false, false},
    {MatchKind::AllWords, "ACME invoice", "", "invoice for AC|ME", true, true},
    {MatchKind::AllWords, "ACME invoice", "", "ACME on|ly", false, false},
    {MatchKind::Phrase, "ACME Ltd", "", "to ACME \n |  Ltd, London", true, true},
    {MatchKind::Phrase, "ACME Ltd", "", "Ltd A|CME", false, false},
    {MatchKind::Phrase, "ACME Ltd", "", "ACME Lt|dx", false, false},
    {MatchKind::Phrase, "\"ACME Ltd\"", "", "acme l|td", false, true},
    {MatchKind::Pattern, "ACME-[0-9]{4}", "", "ref acme-|7731", false, true},
    {MatchKind::Pattern, "^Total: \\d+$", "", "x\nTotal|: 12\ny", true, true},
    {MatchKind::Pattern, "^Total$", "", "x Tot|al", false, false},
    {MatchKind::Pattern, "ACME$", "", "the ACME|X", false, false},
    // One way to match needs no literal: a block without "invoice" is still searched.
    {MatchKind::Pattern, "INVOICE|[0-9]{5}", "", "ref 77|312 only", true, true},
    {MatchKind::AnyWord, "statement", "REMINDER", "statement REM|INDER", false, false},
    {MatchKind::AnyWord, "statement", "reminder", "statement REM|INDER", true, false},
    {MatchKind::Text, "statement", "\"final notice\"", "statement, FINAL |NOTICE", true, false},
    {MatchKind::Text, "statement", "remind", "statement remi|nder", true, true},
    {MatchKind::Pattern, "total", "void", "total due, VO|ID", true, false},
    {MatchKind::AnyWord, "Übersicht", "", "die ÜBERS|ICHT", false, true},
    {MatchKind::AnyWord, "счёт", "", "наш СЧ|ЁТ", false, true},
    {MatchKind::AnyWord, "счёт", "", "наш сч|ёта", false, false},
    {MatchKind::Pattern, "σελίδα \\d", "", "ΣΕΛΊ|ΔΑ 2", false, true},
    // In Shift JIS the second byte of ア is "A": never a letter of its own.
    {MatchKind::AnyWord, "A", "", kKana.c_str(), false, false},
    {MatchKind::AnyWord, "BC", "", "ア|BC", true, true},
    {MatchKind::Text, "ＩＤ", "", "請求書 ｉ|ｄ", false, true},
    {MatchKind::Phrase, "請求書 ＩＤ", "ア", "請求書 ＩＤ|：１２", true, true},
    {MatchKind::Pattern, "ＩＤ：[０-９]+", "", "請求書 ＩＤ|：１２", true, true},
};

struct Setting {
    const char* Name;
    const char* Locale; // null: the C locale the tests start in
    bool Document;
};

// Where the first block ends in the content matcher's read and in the many-task one.
constexpr std::size_t kBoundaries[] = {ScanBlockSize, BlockReader::BlockSize};

void RunCase(const Case& c, const Setting& setting, bool exact) {
    std::string utf8 = c.Text;
    const std::size_t cut = utf8.find('|');
    utf8.erase(cut, 1);
    std::string unused;
    if (!InCodePage(c.Match, unused) || !InCodePage(c.Exclude, unused) ||
        (!setting.Document && !InCodePage(utf8, unused)))
        return; // the code page lacks a character of the case
    TaskConditions task;
    task.Kind = c.Kind;
    task.MatchString = InCodePage(c.Match);
    task.ExcludeString = InCodePage(c.Exclude);
    // The same task alone, and behind another so that the many-task read answers for it.
    TaskConditions other;
    other.MatchString = "zqxj";
    const FolderMatcher alone({task}, exact), shared({other, task}, exact);
    const bool expected = exact ? c.Exact : c.Caseless;
    const std::string what = std::string(setting.Name) + (exact ? ", case-sensitive: " : ": ") +
                             c.Match + " in " + c.Text;
    std::vector<TaskVerdict> a, b;
    if (setting.Document) {
        const std::vector<TextPiece> pieces{{"page 1", "nothing here"}, {"page 2", utf8}};
        a = alone.MatchText(pieces, {true});
        b = shared.MatchText(pieces, {true, true});
        if (expected) {
            EXPECT_EQ(a[0].Found.at(0).Piece, "page 2") << what;
        }
    } else {
        const std::string head = InCodePage(utf8.substr(0, cut));
        for (const std::size_t boundary : kBoundaries) {
            const std::string bytes = std::string(boundary - head.size() - 1, '.') + "\n" + head +
                                      InCodePage(utf8.substr(cut));
            MemorySource one(bytes), two(bytes);
            a = alone.MatchBytes(one, {true});
            b = shared.MatchBytes(two, {true, true});
            EXPECT_EQ(a[0].Holds, b[1].Holds) << what;
            if (expected && a[0].Holds) {
                const int64_t offset = a[0].Found.at(0).Offset;
                EXPECT_GE(offset, static_cast<int64_t>(boundary - head.size())) << what;
                EXPECT_LT(offset, static_cast<int64_t>(bytes.size())) << what;
                EXPECT_EQ(b[1].Found.at(0).Offset, offset) << what;
            }
        }
    }
    EXPECT_EQ(a[0].Holds, expected) << what << " (" << alone.Reason(0, a[0]) << ")";
    EXPECT_EQ(b[1].Holds, expected)
        << what << " (" << shared.Reason(1, b[1]) << ", with another task)";
    EXPECT_FALSE(b[0].Holds) << what;
    EXPECT_EQ(a[0].Holds, alone.Reason(0, a[0]).empty()) << what;
}

} // namespace

// Every kind and exclusion, in both case rules, on a file's bytes with the match across a
// read block's border (in the 8-bit C locale and in UTF-8) and on a document's text; each
// task alone (the content matcher's own scan for the first kind) and in a many-task read.
TEST(ConditionsMatchTest, KindsAndExclusionsEverywhere) {
    const Setting settings[] = {
        {"bytes, Windows-1252", nullptr, false},   {"bytes, UTF-8", "en_US.UTF-8", false},
        {"bytes, Shift JIS", "ja_JP.SJIS", false}, {"bytes, EUC-JP", "ja_JP.EUC-JP", false},
        {"document text", nullptr, true},          {"document text, UTF-8", "en_US.UTF-8", true}};
    for (const Setting& setting : settings) {
        std::unique_ptr<test::ScopedCodePage> scope;
        if (setting.Locale) {
            scope = std::make_unique<test::ScopedCodePage>(setting.Locale);
            if (!scope->Ok()) {
                std::printf("%s: skipped, %s\n", setting.Name, scope->Why().c_str());
                continue;
            }
        }
        for (const Case& c : kCases)
            for (const bool exact : {true, false})
                RunCase(c, setting, exact);
    }
}

TEST(ConditionsMatchTest, ReasonsSayWhichConditionFailed) {
    auto reason = [](MatchKind kind, const char* match, const char* exclude, const char* text) {
        TaskConditions task;
        task.Kind = kind;
        task.MatchString = match;
        task.ExcludeString = exclude;
        FolderMatcher matcher({task, Task("x")}, false);
        MemorySource source(text);
        return matcher.Reason(0, matcher.MatchBytes(source, {true, true})[0]);
    };
    EXPECT_EQ(reason(MatchKind::AllWords, "a \"b c\" d", "", "a d"), "it lacks the words \"b c\"");
    EXPECT_EQ(reason(MatchKind::AnyWord, "b c", "", "a d"), "it holds none of the words b c");
    EXPECT_EQ(reason(MatchKind::Phrase, "b c", "", "c b"), "it does not hold the phrase \"b c\"");
    EXPECT_EQ(reason(MatchKind::Text, "b", "\"x y\"", "b X Y"),
              "it holds the excluded phrase \"x y\"");
    EXPECT_EQ(reason(MatchKind::Pattern, "(a", "", "a"),
              "the regular expression is not valid: missing ): (a");
    EXPECT_EQ(reason(MatchKind{7}, "a", "", "a"), "unknown match kind 7");
    EXPECT_EQ(reason(MatchKind::AnyWord, " \"\" ", "", "a"), "the match string holds no words");

    // A task that can take nothing says so at once and leaves the others to work.
    const TaskConditions bad = Task("(a", MatchKind::Pattern);
    const FolderMatcher matcher({bad, Task("b")}, true);
    EXPECT_EQ(matcher.Problem(0), "the regular expression is not valid: missing ): (a");
    MemorySource source("abc");
    const auto verdicts = matcher.MatchBytes(source, {true, true});
    EXPECT_FALSE(verdicts[0].Holds);
    EXPECT_TRUE(verdicts[1].Holds);
}

// What a task found and where: each word at its first whole-word occurrence, a pattern by
// the text it matched, document text by the piece it lies in; no match spans two pieces.
TEST(ConditionsMatchTest, FoundSaysWhatAndWhere) {
    TaskConditions all = Task("ACME \"final notice\"", MatchKind::AllWords);
    TaskConditions pattern = Task("INV-[0-9]+", MatchKind::Pattern);
    TaskConditions phrase = Task("ACME Ltd", MatchKind::Phrase);
    const FolderMatcher matcher({all, pattern, phrase}, false);
    const std::string text = "ACMEX acme; the Final\n Notice for INV-0042 and ACME";
    MemorySource source(text);
    const auto v = matcher.MatchBytes(source, {true, true, true});
    ASSERT_TRUE(v[0].Holds);
    ASSERT_EQ(v[0].Found.size(), 2u);
    EXPECT_EQ(v[0].Found[0].What, "ACME");
    EXPECT_EQ(v[0].Found[0].Offset, 6);
    EXPECT_EQ(v[0].Found[1].What, "\"final notice\"");
    EXPECT_EQ(v[0].Found[1].Offset, 16);
    ASSERT_TRUE(v[1].Holds);
    EXPECT_EQ(v[1].Found.at(0).What, "INV-0042");
    EXPECT_EQ(v[1].Found.at(0).Offset, static_cast<int64_t>(text.find("INV")));
    EXPECT_FALSE(v[2].Holds);

    const std::vector<TextPiece> pieces{
        {"page 1", "to ACME"}, {"page 2", "Ltd, London ACME"}, {"page 3", "ACME  Ltd"}};
    const auto d = matcher.MatchText(pieces, {true, false, true});
    EXPECT_FALSE(d[0].Holds);
    EXPECT_EQ(matcher.Reason(0, d[0]), "it lacks the words \"final notice\"");
    ASSERT_TRUE(d[2].Holds);
    EXPECT_EQ(d[2].Found.at(0).Piece, "page 3");
    EXPECT_EQ(d[2].Found.at(0).Offset, 0);
}

// A file cut short while it is read: what was read is the whole text, and the tasks are
// decided on it, not left open.
TEST(ConditionsMatchTest, FileCutWhileRead) {
    class CutSource : public MemorySource {
    public:
        using MemorySource::MemorySource;
        int64_t Size() override { return static_cast<int64_t>(Bytes.size()) + 100000; }
    };
    const FolderMatcher matcher({Task("tail", MatchKind::AnyWord), Task("nothing")}, true);
    CutSource source(std::string(200000, ' ') + "the tail");
    const auto v = matcher.MatchBytes(source, {true, true});
    EXPECT_TRUE(v[0].Holds);
    EXPECT_FALSE(v[1].Holds);
}

} // namespace ferry
