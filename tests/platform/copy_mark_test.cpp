#include "platform/copy_mark.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <string>

namespace ferry {
namespace {

CopyMark Typical() {
    CopyMark m;
    m.Dev = 0xFE00;   // 254:0
    m.Ino = 10965041; // about ten million files on the disk
    m.Size = 2048;
    m.MtimeSec = 1796000000; // 2026
    m.MtimeNsec = 999999999;
    m.CtimeSec = 1796000001;
    m.CtimeNsec = 123456789;
    m.Hash = 0x0123456789ABCDEFULL;
    return m;
}

TEST(CopyMarkTest, ReadsBackWhatItWroteAndStaysSmall) {
    CopyMark extreme;
    extreme.Dev = ULLONG_MAX;
    extreme.Ino = ULLONG_MAX;
    extreme.Size = LLONG_MAX;
    extreme.MtimeSec = LLONG_MIN; // before 1970, as far as it goes
    extreme.MtimeNsec = 0;
    extreme.CtimeSec = -1;
    extreme.CtimeNsec = 1;
    extreme.Hash = ~uint64_t{0};
    for (const CopyMark& mark : {Typical(), extreme, CopyMark{}}) {
        CopyMark read;
        ASSERT_TRUE(CopyMark::Parse(mark.Encode(), read));
        EXPECT_EQ(read, mark);
    }
    // Beside its name, a mark of this size still fits in an ext4 inode of 256 bytes.
    EXPECT_LE(Typical().Encode().size(), 48u);

    // With the source's birth, as time or as generation number; one cut short, or of a kind
    // not known, is damage.
    CopyMark born = Typical(), generation = Typical();
    born.BirthKind = CopyMark::Birth::Time;
    born.BirthSec = 1795000000;
    born.BirthNsec = 999999999;
    generation.BirthKind = CopyMark::Birth::Generation;
    generation.BirthSec = 0xFFFFFFFF;
    std::string strange = Typical().Encode();
    strange.back() = 7;
    for (const CopyMark& mark : {born, generation}) {
        CopyMark read;
        ASSERT_TRUE(CopyMark::Parse(mark.Encode(), read));
        EXPECT_EQ(read, mark);
        EXPECT_LE(mark.Encode().size(), 64u);
        for (const std::string& damaged :
             {mark.Encode().substr(0, mark.Encode().size() - 1), strange})
            EXPECT_FALSE(CopyMark::Parse(damaged, read));
    }
}

TEST(CopyMarkTest, TheTextOfEarlierVersionsIsStillReadAndDamageIsNot) {
    const CopyMark mark = Typical();
    char text[256];
    std::snprintf(text, sizeof text, "1 %llu %llu %lld %lld %lld %lld %lld %016" PRIx64, mark.Dev,
                  mark.Ino, mark.Size, mark.MtimeSec, mark.MtimeNsec, mark.CtimeSec, mark.CtimeNsec,
                  mark.Hash);
    CopyMark read;
    ASSERT_TRUE(CopyMark::Parse(text, read));
    EXPECT_EQ(read, mark);

    const std::string encoded = mark.Encode();
    for (const std::string& damaged :
         {std::string(), encoded.substr(0, encoded.size() - 1), encoded + "x", encoded.substr(0, 4),
          std::string(text) + " more", std::string("1 2 3"),
          std::string("\x02") + std::string(12, '\xFF')}) {
        CopyMark untouched = mark;
        EXPECT_FALSE(CopyMark::Parse(damaged, untouched)) << damaged.size() << " bytes";
    }
}

} // namespace
} // namespace ferry
