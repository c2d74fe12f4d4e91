// The byte search tests the pattern's rarest bytes first, wherever they lie in it. Near
// misses (the pattern with one byte changed) at every offset, runs of the tested bytes, and
// matches straddling the vector widths must all come out as a plain search says.

#include "core/byte_search.h"
#include "core/content_matcher.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

namespace ferry {
namespace {

std::size_t Naive(const std::string& data, const std::string& pattern, bool exact) {
    const unsigned char* table = CharUpperTable();
    for (std::size_t i = 0; i + pattern.size() <= data.size(); ++i) {
        std::size_t k = 0;
        while (k < pattern.size() && (exact ? data[i + k] == pattern[k]
                                            : table[static_cast<unsigned char>(data[i + k])] ==
                                                  table[static_cast<unsigned char>(pattern[k])]))
            ++k;
        if (k == pattern.size())
            return i;
    }
    return BytePattern::npos;
}

std::size_t Find(const std::string& data, const std::string& pattern, bool exact) {
    return BytePattern(pattern, exact)
        .FindIn(reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

TEST(ByteSearchTest, RareBytesAnywhereInThePatternAgreeWithAPlainSearch) {
    std::mt19937 random(20261209);
    // Common text bytes with a few rare ones (capitals, digits, accented letters, controls)
    // so that the tested offsets fall inside patterns as well as at their ends.
    const std::string common = "etaoin shrdlu\n";
    const std::string rare("QZXJ7#\xe9\xc9\xff\x9f\x01\x80", 12);
    auto byte = [&] {
        return random() % 6 == 0 ? rare[random() % rare.size()] : common[random() % common.size()];
    };
    const std::string fixed[] = {"orders of the",
                                 "qz",
                                 "ab",
                                 "the shipment was delayed",
                                 std::string(64, 'e'),
                                 "zahlungs\xfc"
                                 "bersicht"};
    for (int round = 0; round < 400; ++round) {
        std::string pattern;
        if (round < 6) {
            pattern = fixed[round];
        } else {
            const std::size_t n = round % 7 == 0 ? 64 : 1 + random() % 20;
            for (std::size_t i = 0; i < n; ++i)
                pattern += byte();
        }
        std::string data;
        const std::size_t size = random() % 3000;
        for (std::size_t i = 0; i < size; ++i)
            data += byte();
        // Near misses: the pattern with each one of its bytes changed, in both cases.
        for (std::size_t k = 0; k < pattern.size() && data.size() < 20000; ++k) {
            std::string miss = pattern;
            miss[k] = static_cast<char>(miss[k] ^ (k % 2 ? 0x20 : 0x01));
            data += miss;
            data += byte();
        }
        if (random() % 2 && !data.empty()) // a real one, at any alignment
            data.insert(random() % data.size(), random() % 2 ? pattern : CharUpperString(pattern));
        for (const bool wide : {true, false}) {
            AllowWideVectorsForTesting(wide);
            for (const bool exact : {true, false})
                ASSERT_EQ(Find(data, pattern, exact), Naive(data, pattern, exact))
                    << "round " << round << (exact ? " exact" : " folded") << (wide ? " wide" : "")
                    << " pattern '" << pattern << "'";
        }
        AllowWideVectorsForTesting(true);
    }
    // A match that ends exactly at the end of the data, for every length and width.
    for (std::size_t n = 1; n <= 70; ++n) {
        std::string pattern(n, 'e');
        pattern[n / 2] = 'Q';
        const std::string data = std::string(130, 'e') + pattern;
        EXPECT_EQ(Find(data, pattern, true), 130u) << n;
        EXPECT_EQ(Find(data.substr(0, data.size() - 1), pattern, true), BytePattern::npos) << n;
    }
}

class StringSource : public ScanSource {
public:
    explicit StringSource(std::string data) : Data_(std::move(data)) {}
    int64_t Size() override { return static_cast<int64_t>(Data_.size()); }
    std::size_t Read(void* buffer, std::size_t count) override {
        const std::size_t n = std::min(count, Data_.size() - At_);
        std::memcpy(buffer, Data_.data() + At_, n);
        At_ += n;
        return n;
    }
    void Seek(int64_t position) override { At_ = static_cast<std::size_t>(position); }

private:
    std::string Data_;
    std::size_t At_ = 0;
};

int64_t Scan(const std::string& data, const std::string& pattern, bool exact) {
    StringSource source(data);
    return ScanForString(source, pattern, exact);
}

// A pass prepares its pattern once and scans many files with it; whatever changes between
// two scans (the pattern, the case rule, the code page) must be seen by the next one.
TEST(ByteSearchTest, TheNextScanFollowsAChangedPatternCaseRuleOrCodePage) {
    const CodePage before = SystemCodePage();
    SetSystemCodePage(CodePage::Windows1252());
    EXPECT_EQ(Scan("xabd", "abd", true), 1);
    EXPECT_EQ(Scan("xabd", "abc", true), -1);
    EXPECT_EQ(Scan("xABC", "abc", false), 1);
    EXPECT_EQ(Scan("xABC", "abc", true), -1);
    EXPECT_EQ(Scan("caf\xc9", "caf\xe9", false), 0);
    SetSystemCodePage(CodePage::Utf8());
    // Lone bytes in UTF-8 match only themselves; the letters fold as characters.
    EXPECT_EQ(Scan("caf\xc9", "caf\xe9", false), -1);
    EXPECT_EQ(Scan("CAF\xc3\x89", "caf\xc3\xa9", false), 0);
    SetSystemCodePage(CodePage::Windows1252());
    EXPECT_EQ(Scan("caf\xc9", "caf\xe9", false), 0);
    EXPECT_EQ(Scan("CAF\xc3\x89", "caf\xc3\xa9", false), -1);
    SetSystemCodePage(before);
}

} // namespace
} // namespace ferry
