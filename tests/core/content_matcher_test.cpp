#include "core/content_matcher.h"

#include "core/byte_search.h"

#include "base/exception.h"
#include "platform/codepage.h"
#include "platform/exclusive_open.h"
#include "platform/system_errors.h"
#include "support/code_page_scope.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ferry {

using test::TempDir;

namespace {

// In-memory bytes that record every read as (offset, count).
class RecordingSource : public ScanSource {
public:
    explicit RecordingSource(std::string bytes) : Bytes(std::move(bytes)) {}
    int64_t Size() override { return static_cast<int64_t>(Bytes.size()); }
    std::size_t Read(void* buffer, std::size_t count) override {
        const std::size_t from = static_cast<std::size_t>(Position);
        const std::size_t n = from >= Bytes.size() ? 0 : std::min(count, Bytes.size() - from);
        std::memcpy(buffer, Bytes.data() + from, n);
        Reads.emplace_back(Position, n);
        Position += static_cast<int64_t>(n);
        return n;
    }
    void Seek(int64_t position) override { Position = position; }

    std::string Bytes;
    int64_t Position = 0;
    std::vector<std::pair<int64_t, std::size_t>> Reads;
};

// The block-and-piece search written out step by step, with C strings: the reference the
// fast scanner must agree with.
int64_t ReferenceScan(const std::string& file, std::string pattern, bool caseSensitive,
                      std::size_t blockSize = ScanBlockSize) {
    if (pattern.empty())
        return -1;
    if (!caseSensitive)
        pattern = CharUpperString(pattern);
    const auto size = static_cast<int64_t>(file.size());
    const auto length = static_cast<int64_t>(pattern.size());
    std::vector<char> buffer(blockSize + 1);
    int64_t remaining = size, position = 0;
    while (remaining > 0) {
        const int64_t n = remaining >= static_cast<int64_t>(blockSize) + 1 ? blockSize : remaining;
        std::memcpy(buffer.data(), file.data() + position, static_cast<std::size_t>(n));
        buffer[static_cast<std::size_t>(n)] = '\0';
        for (char* start = buffer.data(); start < buffer.data() + n;
             start += std::strlen(start) + 1) {
            if (!caseSensitive)
                CharUpperA(start);
            if (const char* hit = std::strstr(start, pattern.c_str()))
                return (size - remaining) + (hit - buffer.data());
        }
        remaining -= n;
        position += n;
        if (remaining > 0) {
            position -= length;
            remaining += length;
        }
    }
    return -1;
}

int64_t Scan(const std::string& bytes, const std::string& pattern, bool caseSensitive = true) {
    RecordingSource source(bytes);
    return ScanForString(source, pattern, caseSensitive);
}

} // namespace

TEST(ContentMatcherTest, BlockBoundariesAndOverlap) {
    // ABC across the first block boundary, at bytes 32766 to 32768.
    std::string file(40000, 'x');
    file.replace(32766, 3, "ABC");
    EXPECT_EQ(Scan(file, "ABC"), 32766);
    EXPECT_EQ(Scan(file, "abc", false), 32766);

    // 32768 bytes are one block; 32769 are two, the second starting L bytes early.
    RecordingSource one(std::string(32768, 'x'));
    EXPECT_EQ(ScanForString(one, "ABC", true), -1);
    EXPECT_EQ(one.Reads, (std::vector<std::pair<int64_t, std::size_t>>{{0, 32768}}));
    RecordingSource two(std::string(32768, 'x') + "C");
    two.Bytes.replace(32766, 2, "AB");
    EXPECT_EQ(ScanForString(two, "ABC", true), 32766);
    EXPECT_EQ(two.Reads, (std::vector<std::pair<int64_t, std::size_t>>{{0, 32768}, {32765, 4}}));

    // The first occurrence wins, also when a later one sits in the same block.
    file.replace(100, 3, "ABC");
    EXPECT_EQ(Scan(file, "ABC"), 100);
    EXPECT_EQ(Scan(std::string(100000, 'x') + "ABC", "ABC"), 100000);
    EXPECT_EQ(Scan("ABC", "ABC"), 0);
    EXPECT_EQ(Scan("AB", "ABC"), -1);
    EXPECT_EQ(Scan("", "ABC"), -1);
}

TEST(ContentMatcherTest, PiecesEndAtNul) {
    EXPECT_EQ(Scan(std::string("xx\0ABC", 6), "ABC"), 3);
    EXPECT_EQ(Scan(std::string("AB\0C", 4), "ABC"), -1);
    EXPECT_EQ(Scan(std::string("\0\0\0ABC\0", 7), "ABC"), 3);
    // A pattern holding a NUL can never lie within one piece.
    EXPECT_EQ(Scan(std::string("AB\0C", 4), std::string("AB\0C", 4)), -1);
    EXPECT_EQ(Scan("ABC", std::string("\0A", 2)), -1);
}

TEST(ContentMatcherTest, CaseFoldingByTheCodePage) {
    EXPECT_EQ(Scan("xAbC", "abc", false), 1);
    EXPECT_EQ(Scan("xAbC", "abc", true), -1);
    // Bytes above 127 fold too: e acute against E acute, y diaeresis against its capital.
    EXPECT_EQ(Scan("caf\xc9!", "caf\xe9", false), 0);
    EXPECT_EQ(Scan("caf\xc9!", "caf\xe9", true), -1);
    EXPECT_EQ(Scan("--\x9f", "\xff", false), 2);
    EXPECT_EQ(Scan("--\xff", "\x9f", false), 2);
    // Letters without a capital in the code page match only themselves.
    EXPECT_EQ(Scan("\xdf", "\xdf", false), 0);
    EXPECT_EQ(Scan("SS", "\xdf", false), -1);
    // One-byte patterns, both ways.
    EXPECT_EQ(Scan("xyz", "Y", false), 1);
    EXPECT_EQ(Scan("xyz", "Y", true), -1);
    EXPECT_EQ(Scan("xyz", "y", true), 1);
}

TEST(ContentMatcherTest, LongPatternsAreFoundAndNeverStall) {
    // 40,000 bytes across the first block boundary, and one that is the whole file.
    std::string pattern(40000, 'p');
    for (std::size_t i = 0; i < pattern.size(); i += 97)
        pattern[i] = 'q';
    std::string file(200000, 'x');
    file.replace(20000, pattern.size(), pattern);
    RecordingSource source(file);
    EXPECT_EQ(ScanForString(source, pattern, true), 20000);
    EXPECT_LT(source.Reads.size(), 10u);
    EXPECT_EQ(Scan(pattern, pattern), 0);
    EXPECT_EQ(Scan(file, std::string(40000, 'p')), -1);

    // Near a block's length, the old rule would re-read a block for every byte gained.
    RecordingSource near(std::string(1 << 20, 'x'));
    EXPECT_EQ(ScanForString(near, std::string(32767, 'y'), true), -1);
    EXPECT_LT(near.Reads.size(), 40u);
    EXPECT_EQ(ScanBlockSizeFor(3), ScanBlockSize);
    EXPECT_EQ(ScanBlockSizeFor(16384), ScanBlockSize);
    EXPECT_EQ(ScanBlockSizeFor(40000), 80000u);
}

TEST(ContentMatcherTest, FileCutWhileScannedEndsTheScan) {
    // Size says 100000 but only 50000 bytes come: the scan must end, not spin.
    class Shrunk : public RecordingSource {
    public:
        using RecordingSource::RecordingSource;
        int64_t Size() override { return 100000; }
    } source(std::string(50000, 'x'));
    EXPECT_EQ(ScanForString(source, "ABC", true), -1);
    EXPECT_LE(source.Reads.size(), 3u);
}

TEST(ContentMatcherTest, AgreesWithTheStepByStepSearch) {
    std::mt19937 random(12345);
    const std::string alphabet("aAbB\0\xe9\xc9\xff\x9f", 9);
    auto pick = [&](std::size_t n) {
        std::string s(n, ' ');
        for (char& c : s)
            c = alphabet[random() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        const std::size_t size = random() % 3 == 0 ? 32760 + random() % 80 : random() % 70000;
        // Mostly filler, so that most scans run far before (or without) a match.
        std::string file(size, 'x');
        for (std::size_t k = 0; k < size / 8; ++k)
            file[random() % size] = alphabet[random() % alphabet.size()];
        std::string pattern = pick(1 + random() % (round % 10 == 0 ? 40 : 4));
        pattern.erase(std::remove(pattern.begin(), pattern.end(), '\0'), pattern.end());
        if (pattern.empty())
            pattern = "b";
        if (size > pattern.size() && random() % 2) // plant one near a block boundary
            file.replace(std::min<std::size_t>(size - pattern.size(), 32766 + random() % 4),
                         pattern.size(), pattern);
        for (const bool wide : {true, false}) {
            AllowWideVectorsForTesting(wide);
            for (const bool exact : {true, false}) {
                ASSERT_EQ(Scan(file, pattern, exact), ReferenceScan(file, pattern, exact))
                    << "round " << round << (exact ? " exact" : " folded") << (wide ? " wide" : "");
            }
        }
        AllowWideVectorsForTesting(true);
    }
}

TEST(ContentMatcherTest, FilesOnDisk) {
    TempDir dir;
    // An empty pattern or name never touches the file, even a missing one.
    EXPECT_EQ(ScanFileForString(dir / "missing", "", true), -1);
    EXPECT_EQ(ScanFileForString("", "ABC", true), -1);
    EXPECT_EQ(ScanFileForString(dir.Write("empty", ""), "ABC", true), -1);

    std::string body(32769, 'z');
    body.replace(32767, 2, "AB");
    const std::string path = dir.Write("f.txt", body + "C");
    EXPECT_EQ(ScanFileForString(path, "ABC", true), 32767);
    EXPECT_EQ(ScanFileForString(path, "abc", false), 32767);
    EXPECT_EQ(ScanFileForString(path, "abd", false), -1);

    try {
        ScanFileForString(dir / "missing", "ABC", true);
        FAIL() << "no error for a missing file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode, ERROR_FILE_NOT_FOUND);
        EXPECT_STREQ(e.what(), "File not found");
    }
    const int holder = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    try {
        ScanFileForString(path, "ABC", true);
        FAIL() << "no error for a file held without sharing";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode, ERROR_SHARING_VIOLATION);
        EXPECT_STREQ(e.what(), "I/O error 32");
    }
    close(holder);
}

// A file's scan reads its first block as it opens it: whatever the lengths, the case mode and
// the way the file was opened (under a lease or sized and locked), it finds what the scan of
// the same bytes in memory finds.
TEST(ContentMatcherTest, FilesOnDiskAgreeWithTheBytes) {
    TempDir dir;
    std::vector<std::pair<std::string, std::string>> cases; // bytes, pattern
    for (const std::size_t size : {1u, 2048u, 8192u, 32767u, 32768u, 32769u, 100000u})
        for (const std::size_t at :
             {std::size_t{0}, size - std::min<std::size_t>(size, 3), std::size_t{32766}}) {
            std::string bytes(size, 'x');
            if (at + 3 <= size)
                bytes.replace(at, 3, "AbC");
            cases.push_back({bytes, "AbC"});
        }
    // Longer than half a block: blocks grow, and so does the first read.
    std::string pattern(40000, 'p');
    pattern[0] = 'q';
    cases.push_back({std::string(50000, 'x') + pattern + std::string(10000, 'x'), pattern});
    auto check = [&](const char* what) {
        for (const bool leases : {true, false}) {
            SetLeaseDisabledForTesting(!leases);
            for (std::size_t i = 0; i < cases.size(); ++i) {
                const auto& [bytes, needle] = cases[i];
                const std::string path = dir.Write("f" + std::to_string(i), bytes);
                for (const bool exact : {true, false})
                    ASSERT_EQ(ScanFileForString(path, needle, exact), Scan(bytes, needle, exact))
                        << what << ", case " << i << (exact ? "" : " folded")
                        << (leases ? " with leases" : " without");
            }
        }
        SetLeaseDisabledForTesting(false);
    };
    check("code page");
    // In UTF-8 a folded match may be longer than the pattern, and blocks overlap by more.
    cases.push_back({std::string(32765, 'x') + "STRA\xc3\x9f"
                                               "E",
                     "stra\xc3\x9f"
                     "e"});
    FERRY_IN_LOCALE("C.UTF-8");
    check("UTF-8");
}

} // namespace ferry
