#include "core/conditions/folder_matcher.h"
#include "core/conditions/literal_filter.h"

#include "support/code_page_scope.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>

namespace ferry {

namespace {

TaskConditions Task(const std::string& match, MatchKind kind = MatchKind::Text) {
    TaskConditions task;
    task.MatchString = match;
    task.Kind = kind;
    return task;
}

// In-memory bytes that count what is read of them.
class CountingSource : public ScanSource {
public:
    explicit CountingSource(const std::string& bytes) : Bytes(bytes) {}
    int64_t Size() override { return static_cast<int64_t>(Bytes.size()); }
    std::size_t Read(void* buffer, std::size_t count) override {
        const auto from = static_cast<std::size_t>(Position);
        const std::size_t n = from >= Bytes.size() ? 0 : std::min(count, Bytes.size() - from);
        std::memcpy(buffer, Bytes.data() + from, n);
        Position += static_cast<int64_t>(n);
        Total += n;
        return n;
    }
    void Seek(int64_t position) override { Position = position; }

    const std::string& Bytes;
    int64_t Position = 0;
    std::size_t Total = 0;
};

std::string InCodePage(const std::string& utf8) {
    return SystemCodePage().FromUtf16(CodePage::Utf8().ToUtf16(utf8));
}

// Long words put the many-task read on its sampling; the long s and the Kelvin sign are
// case forms of s and k that differ in length from them (a ? in an 8-bit code page).
const char* const kWords[] = {
    "invoice", "Invoice",     "INVOICE", "acme",   "ACME",       "Ltd",        "ltd",
    "7731",    "ACME-7731",   "bill",    "total",  "statement",  "reminder",   "REMINDER",
    "über",    "ÜBER",        "k",       "K",      "Kunststoff", "KUNſTſTOFF", "settlement",
    "kelvin",  "\u212AELVIN", "ア",      "ぁぁア", "ＩＤ",       "ｉｄ"};
// Index 6 stands for a NUL.
const char* const kGlue[] = {" ", " ", "\n", "  ", "-", ".", "", ""};
const char* const kPatterns[] = {"ACME-\\d{4}", "inv[a-z]+e", "^total", "(bill|statement) ", "ltd$",
                                 "k+\\b",       "(?i)über",   "[0-9]+", "acme.{0,3}ltd"};

struct Random {
    std::mt19937 Engine;
    std::size_t Below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(Engine);
    }
    template <typename T, std::size_t N> const char* Pick(T (&items)[N]) { return items[Below(N)]; }
};

std::string Text(Random& r, std::size_t bytes) {
    std::string out;
    const std::string nul(1, '\0');
    while (out.size() < bytes) {
        out += InCodePage(r.Pick(kWords));
        const std::size_t g = r.Below(8);
        out += g == 6 ? nul : kGlue[g];
        // Long runs of filler put the words at every distance from the blocks' borders.
        if (r.Below(4) == 0)
            out += std::string(r.Below(3000), r.Below(2) ? ' ' : 'q');
    }
    return out;
}

TaskConditions RandomTask(Random& r) {
    TaskConditions task;
    task.Kind = static_cast<MatchKind>(r.Below(5));
    auto words = [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i)
            s += (i ? " " : "") + InCodePage(r.Pick(kWords));
        return s;
    };
    switch (task.Kind) {
    case MatchKind::Text:
        task.MatchString = InCodePage(r.Pick(kWords)) + (r.Below(2) ? "" : " " + words(1));
        break;
    case MatchKind::Pattern:
        task.MatchString = InCodePage(r.Pick(kPatterns));
        break;
    default:
        task.MatchString = words(1 + r.Below(2)) + (r.Below(3) ? "" : " \"" + words(2) + "\"");
        break;
    }
    if (r.Below(3) == 0)
        task.ExcludeString = words(1);
    return task;
}

void CompareWithTasksAlone(unsigned seed) {
    Random r{std::mt19937(seed)};
    for (int round = 0; round < 10; ++round) {
        std::vector<TaskConditions> tasks;
        for (std::size_t n = r.Below(2) ? 4 + r.Below(6) : 30 + r.Below(20); n > 0; --n)
            tasks.push_back(RandomTask(r));
        const bool exact = r.Below(2);
        const FolderMatcher together(tasks, exact);
        std::vector<std::unique_ptr<FolderMatcher>> alone;
        for (const TaskConditions& task : tasks)
            alone.push_back(
                std::make_unique<FolderMatcher>(std::vector<TaskConditions>{task}, exact));
        for (int f = 0; f < 6; ++f) {
            const std::string file = Text(r, r.Below(3) ? r.Below(2000) : 30000 + r.Below(70000));
            CountingSource source(file);
            const auto all = together.MatchBytes(source, std::vector<bool>(tasks.size(), true));
            EXPECT_LE(source.Total, file.size()) << "each byte is read once at most";
            for (std::size_t t = 0; t < tasks.size(); ++t) {
                CountingSource own(file);
                const TaskVerdict one = alone[t]->MatchBytes(own, {true})[0];
                const std::string what =
                    "seed " + std::to_string(seed) + ", task " + tasks[t].MatchString + " kind " +
                    std::to_string(static_cast<int>(tasks[t].Kind)) + " excluding " +
                    tasks[t].ExcludeString + (exact ? ", case-sensitive" : "");
                ASSERT_EQ(all[t].Holds, one.Holds) << what << ": " << together.Reason(t, all[t])
                                                   << " / " << alone[t]->Reason(0, one);
                // The first kind alone is the content matcher's own scan: same first offset.
                if (tasks[t].Kind == MatchKind::Text && one.Holds) {
                    ASSERT_EQ(all[t].Found.at(0).Offset, one.Found.at(0).Offset) << what;
                }
            }
        }
    }
}

} // namespace

// The many-task read against each task on its own, over random tasks of every kind and
// random files of words, NULs and filler, in an 8-bit, a multi-byte and a UTF-8 code page,
// with the filters' vector loops and their plain ones.
TEST(ConditionsManyTest, SameAnswersAsEachTaskAlone) {
    CompareWithTasksAlone(1);
    AllowFilterVectorsForTesting(false);
    CompareWithTasksAlone(2);
    AllowFilterVectorsForTesting(true);
    {
        FERRY_IN_LOCALE("ja_JP.SJIS");
        CompareWithTasksAlone(4);
    }
    FERRY_IN_LOCALE("en_US.UTF-8");
    CompareWithTasksAlone(3);
}

// A pattern that makes backtracking engines take exponential time, against 1 and 4 MiB of
// "a": the linear-time engine ends in time proportional to the file.
TEST(ConditionsManyTest, HostilePatternEndsInLinearTime) {
    test::TempDir dir;
    const FolderMatcher matcher({Task("(a+)+$", MatchKind::Pattern), Task("b")}, true);
    double seconds[2] = {};
    for (int i = 0; i < 2; ++i) {
        const std::string path =
            dir.Write("a" + std::to_string(i), std::string((1 + 3 * i) << 20, 'a'));
        const auto start = std::chrono::steady_clock::now();
        const auto verdicts = matcher.MatchFile(path, {true, true});
        seconds[i] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_TRUE(verdicts[0].Holds);
        EXPECT_FALSE(verdicts[1].Holds);
    }
    std::printf("(a+)+$ over 1 MiB of a: %.3f s, over 4 MiB: %.3f s\n", seconds[0], seconds[1]);
    RecordProperty("seconds_4MiB", std::to_string(seconds[1]));
    EXPECT_LT(seconds[1], 20.0);
}

} // namespace ferry
