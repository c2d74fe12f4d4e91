#include "core/conditions/condition_terms.h"
#include "core/conditions/file_selection.h"

#include "support/code_page_scope.h"

#include <gtest/gtest.h>

namespace ferry {

namespace {

std::vector<std::vector<std::string>> Split(const std::string& text) {
    std::vector<std::vector<std::string>> out;
    for (const ConditionTerm& term : SplitTerms(text, TextReader(SystemCodePage())))
        out.push_back(term.Words);
    return out;
}

} // namespace

TEST(ConditionsSelectTest, WordsAndQuotedPhrases) {
    using W = std::vector<std::vector<std::string>>;
    EXPECT_EQ(Split("  invoice\tbill\n"), (W{{"invoice"}, {"bill"}}));
    EXPECT_EQ(Split("\"ACME  Ltd\" Globex"), (W{{"ACME", "Ltd"}, {"Globex"}}));
    EXPECT_EQ(Split("ab\"c d\"e"), (W{{"ab"}, {"c", "d"}, {"e"}}));
    // A quote left open runs to the end; empty quotes are nothing.
    EXPECT_EQ(Split("say \"ACME Ltd"), (W{{"say"}, {"ACME", "Ltd"}}));
    EXPECT_EQ(Split("\"\" \"  \" x\""), (W{{"x"}}));
    EXPECT_EQ(Split(""), W{});
    EXPECT_EQ(SplitTerms("a \"b c\"", TextReader(SystemCodePage()))[1].Text(), "\"b c\"");
    // Windows-1252's no-break space separates as white space does.
    EXPECT_EQ(Split("a\xa0"
                    "b"),
              (W{{"a"}, {"b"}}));
    {
        FERRY_IN_LOCALE("en_US.UTF-8");
        EXPECT_EQ(Split("счёт\u3000Größe"), (W{{"счёт"}, {"Größe"}}));
        EXPECT_EQ(Split("\xa0"), (W{{"\xa0"}})); // a stray byte is part of a word
    }
}

TEST(ConditionsSelectTest, NamePatterns) {
    struct Row {
        const char* Patterns;
        const char* Name;
        bool Taken;
    };
    const Row rows[] = {
        {"", "anything", true},
        {" ; ;", "anything", true},
        {"*.pdf;*.docx;scan-??.png", "Report.PDF", true},
        {"*.pdf;*.docx;scan-??.png", "a.docx", true},
        {"*.pdf;*.docx;scan-??.png", "scan-07.png", true},
        {"*.pdf;*.docx;scan-??.png", "scan-7.png", false},
        {"*.pdf;*.docx;scan-??.png", "a.pdf.txt", false},
        {"*.pdf ; invoice*", "Invoice 2024.txt", true},
        {"*.*", "README", true},
        {"*.txt", "*.txt", true},
        {"*x", "*ax", true},
        {"a*b*c*d", "aXbXcXdX", false},
        {"a*b*c*d", "aXbXcXd", true},
        {"?", "", false},
        {"report", "REPORT", true},
        {"report", "reports", false},
    };
    for (const Row& row : rows) {
        TaskConditions task;
        task.NamePattern = row.Patterns;
        const FileSelector selector(task, TextReader(SystemCodePage()));
        const Selection s = selector.Check({row.Name, {}}, WallClock::now());
        EXPECT_EQ(s.Selected, row.Taken) << row.Patterns << " / " << row.Name;
        if (!row.Taken) {
            EXPECT_EQ(s.Reason, std::string("the name does not match ") + row.Patterns);
        }
    }
    // Case is the character's, in the code page of the names: é and É, and in UTF-8 a
    // '?' stands for one character however many bytes it takes.
    TaskConditions task;
    task.NamePattern = "caf\xe9-?.txt";
    EXPECT_TRUE(
        FileSelector(task, TextReader(SystemCodePage())).Check({"CAF\xc9-1.TXT", {}}, {}).Selected);
    FERRY_IN_LOCALE("en_US.UTF-8");
    task.NamePattern = "café-?.txt";
    const FileSelector utf8(task, TextReader(SystemCodePage()));
    EXPECT_TRUE(utf8.Check({"CAFÉ-ж.TXT", {}}, {}).Selected);
    EXPECT_FALSE(utf8.Check({"CAFÉ-жж.TXT", {}}, {}).Selected);
}

TEST(ConditionsSelectTest, MinimumAge) {
    const WallClock::time_point now = WallClock::time_point(std::chrono::hours(24 * 365 * 50));
    TaskConditions task;
    task.MinAgeMinutes = 5;
    const FileSelector selector(task, TextReader(SystemCodePage()));
    struct Row {
        std::chrono::seconds Age;
        bool Taken;
        const char* Reason;
    };
    const Row rows[] = {
        {std::chrono::seconds(300), true, ""},
        {std::chrono::seconds(299), false,
         "unchanged for 4 minutes of the 5 minutes the task waits"},
        {std::chrono::seconds(60), false, "unchanged for 1 minute of the 5 minutes the task waits"},
        {std::chrono::seconds(-600), false,
         "unchanged for 0 minutes of the 5 minutes the task waits"},
        {std::chrono::hours(1000), true, ""},
    };
    for (const Row& row : rows) {
        const Selection s = selector.Check({"f", now - row.Age}, now);
        EXPECT_EQ(s.Selected, row.Taken) << row.Age.count();
        EXPECT_EQ(s.Reason, row.Reason);
    }
    // No minimum: a file changed this instant is taken.
    EXPECT_TRUE(FileSelector(TaskConditions{}, TextReader(SystemCodePage()))
                    .Check({"f", now}, now)
                    .Selected);
    // The later of the two times counts: a file moved in with an old modification time.
    struct stat st {};
    st.st_mtim.tv_sec = 1000;
    st.st_ctim.tv_sec = 5000;
    EXPECT_EQ(FileFacts::FromStat("f", st).Changed,
              WallClock::time_point(std::chrono::seconds(5000)));
}

} // namespace ferry
