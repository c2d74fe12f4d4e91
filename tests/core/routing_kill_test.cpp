#include "core/engine.h"

#include "base/exception.h"
#include "platform/copy_mark.h"
#include "platform/file_move.h"
#include "support/child_process.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
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

// The move mark a file carries, as stored; "" without one.
std::string MarkOf(const std::string& path) {
    char value[256];
    const ssize_t size = lgetxattr(path.c_str(), "user.ferrydesk.move", value, sizeof value);
    return size > 0 ? std::string(value, static_cast<std::size_t>(size)) : std::string();
}

int CountMarked(const TempDir& folder) {
    int marked = 0;
    for (const std::string& name : folder.Entries())
        marked += !MarkOf(folder / name).empty();
    return marked;
}

// Creates files in `folder` until each inode number of `wanted` is given to one of them (or
// the tries run out); each such file becomes `wanted`'s name with `content`. The others go.
// Returns the names made.
std::vector<std::string> ReuseInodes(const TempDir& folder,
                                     std::map<unsigned long long, std::string> wanted,
                                     const std::string& content, int tries) {
    std::vector<std::string> made, misses;
    for (int i = 0; i < tries && !wanted.empty(); ++i) {
        const std::string probe = folder / ("probe" + std::to_string(i));
        const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0)
            break;
        struct stat st;
        fstat(fd, &st);
        const auto hit = wanted.find(st.st_ino);
        if (hit == wanted.end()) {
            close(fd);
            misses.push_back(probe);
            continue;
        }
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(fd);
        EXPECT_EQ(std::rename(probe.c_str(), (folder / hit->second).c_str()), 0);
        made.push_back(hit->second);
        wanted.erase(hit);
    }
    for (const std::string& miss : misses)
        unlink(miss.c_str());
    return made;
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

// A kill -9 part-way through a pass across file systems leaves copies marked with their
// source's inode number, which the source's file system gives to a new file once the source
// is gone. The settling pass takes the mark of every move it settles off; and whatever marks
// are left (as an earlier version left them, with or without the source's birth), a new file
// saved under the old name with that inode number is someone else's: the next pass leaves it,
// and the file moved earlier, alone. FERRY_KILL_ROUNDS and FERRY_KILL_FILES set the size.
TEST(RoutingKillTest, AStaleMarkNeverCostsAMovedFile) {
    const int rounds = EnvCount("FERRY_KILL_ROUNDS", 6);
    const int files = EnvCount("FERRY_KILL_FILES", 100);
    TempDir probe;
    const std::string other = TempDir::OtherFileSystemThan(probe.Path());
    if (other.empty())
        GTEST_SKIP() << "no second file system here";
    std::mt19937 random(1209);
    double fullPassMs = 0;
    int killed = 0, marksAfterKill = 0, marksAfterSettling = 0, reused = 0;
    // A kill that lands before the first copy or after the last leaves no mark to reuse; under
    // load that can happen in every round, so a few more are run until one does (bounded).
    for (int round = 0; round <= rounds || (reused == 0 && round <= 5 * rounds); ++round) {
        SCOPED_TRACE(round);
        // The source on the disk, whose file system hands freed inode numbers out again first.
        TempDir in, out(other);
        const Corpus corpus(in, files, random);
        ChildProcess pass([&](ChildProcess&) {
            Pass(in, out);
            return 0;
        });
        const auto start = std::chrono::steady_clock::now();
        if (round > 0) {
            test::SleepMs(std::uniform_real_distribution<double>(0, fullPassMs)(random));
            pass.Kill();
        }
        const int status = pass.Wait(120000);
        if (round == 0) {
            ASSERT_EQ(status, 0);
            fullPassMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            EXPECT_EQ(CountMarked(out), 0);
            continue;
        }
        killed += status != 0;

        // The marks as the kill left them, by the inode number of the source each names.
        std::map<unsigned long long, std::string> named;
        std::map<std::string, std::string> marks;
        for (const std::string& name : out.Entries()) {
            const std::string mark = MarkOf(out / name);
            CopyMark parsed;
            if (mark.empty() || !CopyMark::Parse(mark, parsed))
                continue;
            named[parsed.Ino] = name;
            marks[name] = mark;
        }
        marksAfterKill += static_cast<int>(marks.size());
        Pass(in, out);
        corpus.ExpectWholeOnce(in, out, true);
        marksAfterSettling += CountMarked(out);

        // Every mark back on its copy, every other one in the form without a birth; then new
        // files under the moved files' names, with their sources' old inode numbers.
        int n = 0;
        for (const auto& [name, mark] : marks) {
            std::string value = mark;
            CopyMark parsed;
            if (n++ % 2 && CopyMark::Parse(mark, parsed)) {
                char text[256];
                std::snprintf(text, sizeof text, "1 %llu %llu %lld %lld %lld %lld %lld %016llx",
                              parsed.Dev, parsed.Ino, parsed.Size, parsed.MtimeSec,
                              parsed.MtimeNsec, parsed.CtimeSec, parsed.CtimeNsec,
                              static_cast<unsigned long long>(parsed.Hash));
                value = text;
            }
            ASSERT_EQ(lsetxattr((out / name).c_str(), "user.ferrydesk.move", value.data(),
                                value.size(), 0),
                      0);
        }
        const std::vector<std::string> saved =
            ReuseInodes(in, named, "MATCH saved later", 500 + 4 * static_cast<int>(named.size()));
        reused += static_cast<int>(saved.size());
        Pass(in, out);
        for (const std::string& name : saved) {
            SCOPED_TRACE(name);
            EXPECT_EQ(TempDir::Read(in / name), "MATCH saved later");
            EXPECT_EQ(std::hash<std::string>{}(TempDir::Read(out / name)), corpus.Sums.at(name))
                << "the file moved earlier is lost";
        }
        EXPECT_EQ(in.Entries().size(), corpus.Sums.size() - corpus.Matching.size() + saved.size());
        EXPECT_EQ(out.Entries().size(), corpus.Matching.size());
    }
    EXPECT_EQ(marksAfterSettling, 0);
    EXPECT_GT(reused, 0) << "no inode number was handed out again: nothing was tested";
    std::printf("disk to tmpfs: %d rounds of %d files (a whole pass %.0f ms), %d killed; "
                "%d marks after the kills, %d after the settling pass; %d inode numbers "
                "given to new files under the old names, no moved file lost\n",
                rounds, files, fullPassMs, killed, marksAfterKill, marksAfterSettling, reused);
}

// Two running copies routing the same folders across file systems, one pass each, at once. A
// file the other copy is moving is that copy's: no pass ends in an error, no file is left in
// both places, and each copy records only what it did: every file at the destination is told
// as moved by exactly one of them, and a matching file still at the source as left in use.
TEST(RoutingKillTest, TwoCopiesAcrossFileSystemsRecordOnlyWhatEachDid) {
    TempDir probe;
    const std::string other = TempDir::OtherFileSystemThan(probe.Path());
    if (other.empty())
        GTEST_SKIP() << "no second file system here";
    std::mt19937 random(5);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        TempDir in(other), out, told;
        const Corpus corpus(in, 400, random);
        auto copy = [&](const std::string& which) {
            return [&, which](ChildProcess& self) {
                uint64_t go = 0;
                if (!self.Receive(go, 10000))
                    return 1;
                std::string lines;
                test::TaskRun run;
                try {
                    run.Pass(in.Path(), out.Path());
                } catch (const std::exception& e) {
                    told.Write(which + ".error", e.what());
                    return 3;
                }
                for (const FileOutcome& o : run.Outcomes)
                    lines += std::to_string(static_cast<int>(o.Kind)) + " " + o.File + "\n";
                told.Write(which, lines);
                return 0;
            };
        };
        ChildProcess first(copy("first")), second(copy("second"));
        first.Send(1);
        second.Send(1);
        EXPECT_EQ(first.Wait(90000), 0);
        EXPECT_EQ(second.Wait(90000), 0);
        EXPECT_EQ(told.Entries(), (std::vector<std::string>{"first", "second"}))
            << "a pass ended in an error";

        // What each copy told, by file.
        std::map<std::string, std::vector<OutcomeKind>> byCopy[2];
        for (int c = 0; c < 2; ++c) {
            std::istringstream lines(TempDir::Read(told / (c == 0 ? "first" : "second")));
            int kind = 0;
            std::string name;
            while (lines >> kind >> name)
                byCopy[c][name].push_back(static_cast<OutcomeKind>(kind));
        }
        corpus.ExpectWholeOnce(in, out, false);
        for (const auto& [name, sum] : corpus.Sums) {
            SCOPED_TRACE(name);
            int moved = 0, inUse = 0;
            for (auto& told : byCopy) {
                const auto& kinds = told[name];
                EXPECT_LE(kinds.size(), 1u) << "told twice by one copy";
                for (const OutcomeKind kind : kinds) {
                    moved += kind == OutcomeKind::Moved;
                    inUse += kind == OutcomeKind::InUse;
                    EXPECT_TRUE(kind == OutcomeKind::Moved || kind == OutcomeKind::InUse)
                        << static_cast<int>(kind);
                }
            }
            if (TempDir::Exists(out / name)) {
                EXPECT_EQ(moved, 1) << "moved, as the copies tell";
            } else {
                EXPECT_EQ(moved, 0);
                EXPECT_EQ(inUse > 0, corpus.Matching.count(name) == 1);
            }
        }
    }
}

} // namespace ferry
