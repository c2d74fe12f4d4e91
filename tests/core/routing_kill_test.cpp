#include "core/engine.h"

#include "base/exception.h"
#include "platform/file_move.h"
#include "support/child_process.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <unistd.h>

namespace ferry {

using test::ChildProcess;
using test::TempDir;

namespace {

int EnvCount(const char* name, int fallback) {
    const char* text = std::getenv(name);
    const int value = text ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

// A folder full of files of mixed sizes, one in ten without the match string, and the
// checksum of each.
struct Corpus {
    std::map<std::string, std::size_t> Sums;
    std::set<std::string> Matching;

    Corpus(const TempDir& in, int count, std::mt19937& random) {
        for (int i = 0; i < count; ++i) {
            const int kind = static_cast<int>(random() % 100);
            const std::size_t size = kind < 70   ? random() % 4096
                                     : kind < 95 ? 4096 + random() % 60000
                                                 : 65536 + random() % 400000;
            std::string body(size, '\0');
            for (char& c : body)
                c = static_cast<char>('a' + random() % 26);
            const std::string name = "file" + std::to_string(i) + ".dat";
            if (i % 10 != 3)
                body.insert(body.size() / 2, "MATCH"), Matching.insert(name);
            in.Write(name, body);
            Sums[name] = std::hash<std::string>{}(body);
        }
    }

    // Every file whole, in exactly one of the folders (matching ones at the destination
    // once `allMoved`), and nothing else in either folder.
    void ExpectWholeOnce(const TempDir& in, const TempDir& out, bool allMoved) const {
        std::size_t inCount = 0, outCount = 0;
        for (const auto& [name, sum] : Sums) {
            const bool atSource = TempDir::Exists(in / name);
            const bool atDestination = TempDir::Exists(out / name);
            EXPECT_NE(atSource, atDestination) << name;
            if (allMoved) {
                EXPECT_EQ(atDestination, Matching.count(name) == 1) << name;
            }
            const std::string where = atDestination ? out / name : in / name;
            EXPECT_EQ(std::hash<std::string>{}(TempDir::Read(where)), sum) << name;
            inCount += atSource;
            outCount += atDestination;
        }
        EXPECT_EQ(in.Entries().size(), inCount);
        EXPECT_EQ(out.Entries().size(), outCount);
    }
};

int CountBoth(const Corpus& corpus, const TempDir& in, const TempDir& out) {
    int both = 0;
    for (const auto& entry : corpus.Sums)
        both += TempDir::Exists(in / entry.first) && TempDir::Exists(out / entry.first);
    return both;
}

int CountOurs(const TempDir& folder) {
    int ours = 0;
    for (const std::string& name : folder.Entries())
        ours += name.rfind(".~ferrydesk-", 0) == 0;
    return ours;
}

void Pass(const TempDir& in, const TempDir& out) {
    test::TaskRun().Pass(in.Path(), out.Path());
}

struct Mode {
    const char* Name;
    bool Across;
    bool NamedTemp;
};

} // namespace

// The routing pass in a child process, killed at a random instant; the next pass must
// leave every file whole in exactly one place, with nothing of ours left behind.
// FERRY_KILL_ROUNDS and FERRY_KILL_FILES set the size (default 6 rounds of 100 files for
// each kind of move).
TEST(RoutingKillTest, KilledPassLeavesEveryFileWholeInOnePlace) {
    const int rounds = EnvCount("FERRY_KILL_ROUNDS", 6);
    const int files = EnvCount("FERRY_KILL_FILES", 100);
    TempDir probe;
    const std::string other = TempDir::OtherFileSystemThan(probe.Path());
    std::mt19937 random(20261209);
    for (const Mode mode :
         {Mode{"one file system", false, false}, Mode{"across file systems", true, false},
          Mode{"across, named temporaries", true, true}}) {
        if (mode.Across && other.empty())
            continue;
        SCOPED_TRACE(mode.Name);
        double fullPassMs = 0;
        int killedMidway = 0, leftInBoth = 0, leftOfOurs = 0;
        for (int round = 0; round <= rounds; ++round) {
            SCOPED_TRACE(round);
            TempDir in(mode.Across ? other : ""), out;
            const Corpus corpus(in, files, random);
            ChildProcess pass([&](ChildProcess&) {
                const MoveSeam seam{false, mode.NamedTemp, {}};
                if (mode.NamedTemp)
                    SetMoveSeamForTesting(&seam);
                Pass(in, out);
                return 0;
            });
            // Round 0 runs to the end and times a whole pass; the others are killed at a
            // random instant within that time.
            const auto start = std::chrono::steady_clock::now();
            if (round > 0) {
                test::SleepMs(std::uniform_real_distribution<double>(0, fullPassMs)(random));
                pass.Kill();
            }
            const int status = pass.Wait(120000);
            if (round == 0) {
                ASSERT_EQ(status, 0);
                fullPassMs = std::chrono::duration<double, std::milli>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
                corpus.ExpectWholeOnce(in, out, true);
                continue;
            }
            ASSERT_TRUE(status == 128 + 9 || status == 0) << status;
            killedMidway += status != 0 && !in.Entries().empty() && out.Entries().size() > 0 &&
                            out.Entries().size() < corpus.Matching.size();
            leftInBoth += CountBoth(corpus, in, out);
            leftOfOurs += CountOurs(in) + CountOurs(out);
            Pass(in, out);
            corpus.ExpectWholeOnce(in, out, true);
            EXPECT_EQ(CountOurs(in) + CountOurs(out), 0);
        }
        std::printf("%s: %d rounds of %d files (a whole pass %.0f ms), %d killed mid-pass; "
                    "left after the kills: %d files in both places, %d temporaries or "
                    "stashes; none after the next pass\n",
                    mode.Name, rounds, files, fullPassMs, killedMidway, leftInBoth, leftOfOurs);
    }
}

// Two running copies of the program routing the same folder at once.
TEST(RoutingKillTest, TwoCopiesRoutingOneFolderKeepEveryFileWhole) {
    TempDir probe;
    const std::string other = TempDir::OtherFileSystemThan(probe.Path());
    std::mt19937 random(4);
    for (const bool across : {false, true}) {
        if (across && other.empty())
            continue;
        SCOPED_TRACE(across ? "across file systems" : "one file system");
        TempDir in(across ? other : ""), out;
        const Corpus corpus(in, 300, random);
        auto copy = [&](ChildProcess& self) {
            uint64_t go = 0;
            if (!self.Receive(go, 10000))
                return 1;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (std::chrono::steady_clock::now() < deadline) {
                // A file the other copy moved after our listing cannot be opened: that
                // error ends a pass, as any unreadable file does, and the next one goes on.
                try {
                    Pass(in, out);
                } catch (const EInOutError&) {
                }
                if (in.Entries().size() == corpus.Sums.size() - corpus.Matching.size())
                    return 0;
            }
            return 2;
        };
        ChildProcess first(copy), second(copy);
        first.Send(1);
        second.Send(1);
        EXPECT_EQ(first.Wait(90000), 0);
        EXPECT_EQ(second.Wait(90000), 0);
        corpus.ExpectWholeOnce(in, out, true);
        EXPECT_EQ(CountOurs(in) + CountOurs(out), 0);
    }
}

} // namespace ferry
