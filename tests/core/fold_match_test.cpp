#include "core/content_matcher.h"
#include "core/fold_search.h"

#include "platform/codepage.h"
#include "support/code_page_scope.h"
#include "support/fold_reference.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <random>

namespace ferry {

using test::FoldReference;
using test::MemorySource;
using test::TempDir;

namespace {

int64_t Find(const std::string& data, const std::string& pattern) {
    MemorySource source(data);
    return ScanForString(source, pattern, false);
}

} // namespace

TEST(FoldMatchTest, EveryScriptWithCaseMatchesItsOtherCaseAndNothingElse) {
    FERRY_IN_LOCALE("en_US.UTF-8");
    struct Row {
        const char* Script;
        const char* Pattern;
        const char* Matching;
        const char* NotMatching;
    };
    const Row rows[] = {
        {"Latin", "überweisung", "Betreff: ÜBERWEISUNG Nr. 5", "UEBERWEISUNG uberweisung"},
        {"Cyrillic", "счёт", "Ваш СЧЁТ оплачен", "Ваш СЧЕТ оплачен"},
        {"Greek", "λογαριασμός", "ΛΟΓΑΡΙΑΣΜΌΣ 12", "ΛΟΓΑΡΙΑΣΜΟΣ 12"},
        {"Greek final sigma", "οδος", "ΟΔΟΣ", "ΟΔΟ"},
        {"Armenian", "բարեվ", "ԲԱՐԵՎ ձեզ", "ԲԱՐԵ Վ"},
        {"Georgian", "ანგარიში", "ᲐᲜᲒᲐᲠᲘᲨᲘ", "ᲐᲜᲒᲐᲠᲘ"},
        {"Cherokee", "ᏣᎳᎩ", "ꮳꮃꭹ", "ꮳꮃ"},
        {"Deseret", "𐐨𐐯", "𐐀𐐇", "𐐀𐐀"},
        {"sharp s", "STRASSE straße", "strasse STRAẞE", "strasse STRASSE"},
        {"Kelvin sign", "5 kg", "5 \u212Ag", "5 Kq"},
        {"dotless i", "ı", "I\u0131", "iI"},
        {"dotted I", "\u0130", "x\u0130", "iI"},
        {"CJK has no case", "口座", "この口座", "この口"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Script);
        const std::string matching = row.Matching, other = row.NotMatching;
        EXPECT_EQ(Find(matching, row.Pattern), FoldReference(matching, row.Pattern));
        EXPECT_GE(Find(matching, row.Pattern), 0);
        EXPECT_EQ(Find(other, row.Pattern), -1);
        // Case-sensitive stays a plain byte search.
        MemorySource exact(matching);
        EXPECT_EQ(ScanForString(exact, row.Pattern, true),
                  static_cast<int64_t>(matching.find(row.Pattern) == std::string::npos
                                           ? -1
                                           : matching.find(row.Pattern)));
    }
    EXPECT_EQ(Find("Ваш СЧЁТ", "счёт"), 7); // a byte offset: "Ваш " is seven bytes
}

TEST(FoldMatchTest, FilesCutMatchesAtBlockBoundariesInsideCharacters) {
    FERRY_IN_LOCALE("en_US.UTF-8");
    TempDir dir;
    auto write = [&](const std::string& name, const std::string& bytes) {
        const std::string path = dir.Path() + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    };
    // "Ü" is C3 9C: its first byte ends the first 32768-byte block, its second begins
    // the next read.
    const std::string cut = std::string(32767, 'x') + "ÜBERWEISUNG" + std::string(100, 'y');
    EXPECT_EQ(ScanFileForString(write("cut", cut), "überweisung", false), 32767);
    // A match whose bytes are longer than the pattern's: "ẞ" (3 bytes) for "ß" (2), the
    // Kelvin sign (3 bytes) for "k" (1), straddling the boundary.
    const std::string longer = std::string(32760, 'x') + "STRA\u1E9EE \u212Aonto";
    EXPECT_EQ(ScanFileForString(write("longer", longer), "straße konto", false), 32760);
    // And shorter: the pattern has the long forms, the file the short ones.
    const std::string shorter = std::string(32766, 'x') + "strasse straße konto";
    EXPECT_EQ(ScanFileForString(write("shorter", shorter), "STRA\u1E9EE \u212AONTO", false),
              32766 + 8);
    // The whole file in one block, and the match at its very end.
    EXPECT_EQ(ScanFileForString(write("end", std::string(32760, 'x') + "СЧЁТ"), "счёт", false),
              32760);
    // NUL still splits the text into pieces.
    EXPECT_EQ(ScanFileForString(write("nul", std::string("СЧ\0ЁТ", 9)), "счёт", false), -1);
}

TEST(FoldMatchTest, InvalidBytesMatchOnlyThemselves) {
    FERRY_IN_LOCALE("en_US.UTF-8");
    // A file of Windows-1252 bytes and broken sequences around a good word.
    const std::string file = "\xFF\xFE caf\xE9 \xC3\x28 \xE2\x82 CAFÉ \xA9";
    EXPECT_EQ(Find(file, "café"), static_cast<int64_t>(file.find("CAFÉ")));
    // The single byte E9 (é in Latin-1) is not the character é, and é is not E9.
    EXPECT_EQ(Find(file, "caf\xE9"), 3);
    EXPECT_EQ(Find(file, "CAF\xE9"), 3);
    EXPECT_EQ(Find("café", "caf\xE9"), -1);
    // A lone continuation byte does not match the tail of a character.
    EXPECT_EQ(Find("É é", "\xA9"), -1);
    EXPECT_EQ(Find("É é \xA9", "\xA9"), 6);
    // A truncated sequence matches itself, only where it stays truncated.
    EXPECT_EQ(Find("x\xE2\x82", "\xE2\x82"), 1);
    EXPECT_EQ(Find("x\xE2\x82\xAC", "\xE2\x82"), -1);
    EXPECT_EQ(Find("\xC3(", "\xC3"), 0);
    EXPECT_EQ(Find("\xC3\x84", "\xC3"), -1);
}

TEST(FoldMatchTest, AgreesWithDecodingFoldingAndSearchingAcrossBlocks) {
    FERRY_IN_LOCALE("en_US.UTF-8");
    // Pieces chosen to collide: case pairs of every byte length, lone bytes, NUL.
    const std::vector<std::string> pieces = {"a",      "A",
                                             "k",      "K",
                                             "\u212A", "s",
                                             "S",      "\u017F",
                                             "ß",      "ẞ",
                                             "σ",      "ς",
                                             "Σ",      "ü",
                                             "Ü",      "\xC3",
                                             "\xBC",   "\xE2\x84",
                                             "x",      " ",
                                             "ё",      "Ё",
                                             "😀",      "𐐀",
                                             "𐐨",      std::string(1, '\0')};
    std::mt19937 random(20261209);
    auto text = [&](std::size_t n) {
        std::string s;
        while (s.size() < n)
            s += pieces[random() % pieces.size()];
        return s;
    };
    int found = 0;
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        std::string data = text(32768 * 2 + random() % 4000);
        if (round % 2)
            for (char& c : data) // mostly one piece, so that long matches occur
                if (random() % 4 != 0 && c == ' ')
                    c = 'a';
        for (int p = 0; p < 8; ++p) {
            std::string pattern;
            if (p % 2) {
                pattern = text(1 + random() % 6);
            } else {
                const std::size_t at = 32768 - 12 + random() % 24;
                pattern = data.substr(at, 1 + random() % 9);
            }
            SCOPED_TRACE(::testing::PrintToString(pattern));
            const int64_t expected = FoldReference(data, pattern);
            ASSERT_EQ(Find(data, pattern), expected);
            found += expected >= 0;
        }
    }
    EXPECT_GT(found, 24 * 8 / 3); // the comparison is not all "no match"
}

TEST(FoldMatchTest, LegacyCodePagesFoldByTheirOwnTable) {
    {
        FERRY_IN_LOCALE("ru_RU.KOI8-R");
        const std::string file =
            "\xE7\xC4\xC5 \xF3\xFE\xE5\xF4? \xF3\xFE\xB3\xF4!"; // Где СЧЕТ? СЧЁТ!
        EXPECT_EQ(Find(file, "\xD3\xDE\xA3\xD4"), 10);          // счёт
        EXPECT_EQ(Find(file, "\xD3\xDE\xC5\xD4x"), -1);
    }
    {
        FERRY_IN_LOCALE("de_DE.ISO-8859-1");
        EXPECT_EQ(Find("Herr M\xDCLLER", "m\xFCller"), 5);
        EXPECT_EQ(Find("Herr MUELLER", "m\xFCller"), -1);
    }
    // Three bytes fold onto "I" in ISO-8859-9: i, dotless i and I itself.
    CodePage turkish = CodePage::Windows1252();
    ASSERT_TRUE(CodePage::ForLocale("tr_TR.ISO-8859-9", turkish));
    const CodePage old = SystemCodePage();
    SetSystemCodePage(turkish);
    EXPECT_EQ(Find("xx\xFDk", "IK"), 2);
    EXPECT_EQ(Find("xx\xFDk", "ik"), 2);
    EXPECT_EQ(Find("xxk\xFD", "ki"), 2);
    EXPECT_EQ(Find("xx\xDDk", "ik"), -1); // dotted capital I stays itself
    SetSystemCodePage(old);
}

TEST(FoldMatchTest, CaseClassesComeFromTheUnicodeData) {
    EXPECT_EQ(Utf8FoldPattern::CaseClass(U'k'), (std::vector<char32_t>{U'K', U'k', 0x212A}));
    EXPECT_EQ(Utf8FoldPattern::CaseClass(0x1E9E), (std::vector<char32_t>{0xDF, 0x1E9E}));
    EXPECT_EQ(Utf8FoldPattern::CaseClass(U'ς'), (std::vector<char32_t>{0x3A3, 0x3C2, 0x3C3}));
    EXPECT_EQ(Utf8FoldPattern::CaseClass(U'1'), (std::vector<char32_t>{U'1'}));
    // Every character's class is exactly the characters that fold as it does.
    std::map<char32_t, std::vector<char32_t>> classes;
    for (char32_t c = 0; c < 0x110000; ++c) {
        const auto f = static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), 0));
        if (f != c)
            classes.try_emplace(f, std::vector<char32_t>{f}).first->second.push_back(c);
    }
    for (auto& [folded, members] : classes) {
        std::sort(members.begin(), members.end());
        for (char32_t c : members)
            if (Utf8FoldPattern::CaseClass(c) != members)
                ADD_FAILURE() << "case class of U+" << std::hex << static_cast<uint32_t>(c);
    }
    const Utf8FoldPattern pattern("\u212A");
    EXPECT_EQ(pattern.MaxMatchLength(), 3u);
}

} // namespace ferry
