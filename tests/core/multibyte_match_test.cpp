// Matching in the multi-byte code pages of East Asia, each in its own locale, against the
// slow, obvious way: cut both sides into characters with iconv, upper-case each character
// with ICU, and compare character by character.
#include "core/content_matcher.h"

#include "platform/codepage.h"
#include "support/code_page_scope.h"
#include "support/fold_reference.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <random>
#include <unicode/uchar.h>

namespace ferry {
namespace {

using test::MemorySource;

int64_t Find(const std::string& data, const std::string& pattern, bool caseSensitive) {
    MemorySource source(data);
    return ScanForString(source, pattern, caseSensitive);
}

struct Unit {
    int64_t Key; // the character (upper-cased unless exact), or -1 - byte for a lone byte
    std::size_t Offset;
};

// Characters as iconv reads them one at a time: the shortest run of bytes it converts.
std::vector<Unit> Units(const std::string& charset, const std::string& s, bool exact) {
    iconv_t cd = iconv_open("UTF-32LE", charset.c_str());
    std::vector<Unit> out;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = 1;
        int64_t key = -1 - static_cast<unsigned char>(s[i]);
        for (; n <= 4 && i + n <= s.size(); ++n) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            char* in = const_cast<char*>(s.data() + i);
            char32_t cp = 0;
            char* outp = reinterpret_cast<char*>(&cp);
            std::size_t inLeft = n, outLeft = sizeof cp;
            if (iconv(cd, &in, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1)) {
                key = exact ? cp : u_toupper(static_cast<UChar32>(cp));
                break;
            }
            if (errno != EINVAL)
                break;
        }
        if (key < 0)
            n = 1;
        out.push_back({key, i});
        i += n;
    }
    iconv_close(cd);
    return out;
}

int64_t Reference(const std::string& charset, const std::vector<Unit>& d,
                  const std::string& pattern, bool exact) {
    const std::vector<Unit> p = Units(charset, pattern, exact);
    for (std::size_t i = 0; i + p.size() <= d.size(); ++i) {
        std::size_t k = 0;
        while (k < p.size() && d[i + k].Key == p[k].Key)
            ++k;
        if (k == p.size())
            return static_cast<int64_t>(d[i].Offset);
    }
    return -1;
}

TEST(MultiByteMatchTest, WholeCharactersMatchInEveryLocaleAndAcrossBlocks) {
    struct Row {
        const char* Locale;
        const char* Charset; // what the reference reads with
        std::u16string Alphabet;
    };
    // ASCII letters and the backslash, full-width and Greek letters of both cases, and
    // characters whose second byte is an ASCII letter or a backslash in that set.
    const Row rows[] = {
        {"ja_JP.SJIS", "CP932", u"aAzZ\\ａＡαΑアヂソ表"},
        {"ja_JP.EUC-JP", "EUC-JP", u"aAzZ\\ａＡαΑアヂ日ｱ"},
        {"zh_CN.GBK", "GBK", u"aAzZ\\ａＡαΑ誇說乗"},
        {"zh_TW.BIG5", "BIG5", u"aAzZ\\ａＡαΑ了口許"},
        {"ko_KR.EUC-KR", "EUC-KR", u"aAzZ\\ａＡαΑ김치"},
    };
    std::string missing;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Locale);
        test::ScopedCodePage codePage(row.Locale);
        if (!codePage.Ok()) {
            missing += std::string(" ") + row.Locale;
            continue;
        }
        const CodePage& cp = SystemCodePage();
        std::vector<std::string> letters;
        for (char16_t c : row.Alphabet)
            letters.push_back(cp.FromUtf16(std::u16string(1, c)));

        // The named faults first: a second byte is no letter, with or without case.
        if (cp.IsShiftJis()) {
            EXPECT_EQ(Find("\x83\x41", "a", false), -1);         // ア holds "A"
            EXPECT_EQ(Find("\x83\x41", "A", true), -1);          // and not as itself either
            EXPECT_EQ(Find("x\x83\x61", "\x83\x41", false), -1); // ヂ is no ア
            EXPECT_EQ(Find("x\x83\x41", "\x83\x41", false), 1);
        }

        // Text long enough for three blocks; patterns taken around the block ends too.
        std::mt19937 random(7);
        std::vector<std::size_t> starts; // where each character begins
        std::string data;
        while (data.size() < 70000) {
            starts.push_back(data.size());
            data += letters[random() % letters.size()];
        }
        const std::vector<Unit> units[2] = {Units(row.Charset, data, false),
                                            Units(row.Charset, data, true)};
        int found = 0;
        for (int round = 0; round < 120; ++round) {
            std::size_t at = random() % (starts.size() - 4);
            if (round % 3 == 0) { // begin near the end of the first or second block
                const std::size_t edge = round % 2 ? 32768 : 65536 - 40;
                at =
                    static_cast<std::size_t>(
                        std::lower_bound(starts.begin(), starts.end(), edge - 6) - starts.begin()) +
                    random() % 5;
            }
            std::string pattern;
            for (std::size_t k = 0, n = 1 + random() % 4; k < n; ++k)
                pattern += round % 4 == 1
                               ? letters[random() % letters.size()]
                               : data.substr(starts[at + k], starts[at + k + 1] - starts[at + k]);
            if (round % 2)
                pattern = CharUpperString(pattern);
            for (bool exact : {false, true}) {
                const int64_t expected = Reference(row.Charset, units[exact], pattern, exact);
                ASSERT_EQ(Find(data, pattern, exact), expected)
                    << "round " << round << (exact ? " exact" : " any case");
                found += expected >= 0;
            }
        }
        EXPECT_GT(found, 120); // not all "no match"
    }
    if (!missing.empty())
        GTEST_SKIP() << "not installed (scripts/install-locales makes them):" << missing;
}

} // namespace
} // namespace ferry
