#include "platform/copy_mark.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

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

    // With the source's birth, as time or as generation number.
    CopyMark born = Typical();
    born.BirthKind = CopyMark::Birth::Time;
    born.BirthSec = 1795000000;
    born.BirthNsec = 999999999;
    CopyMark generation = Typical();
    generation.BirthKind = CopyMark::Birth::Generation;
    generation.BirthSec = 0xFFFFFFFF;
    for (const CopyMark& mark : {born, generation}) {
        CopyMark read;
        ASSERT_TRUE(CopyMark::Parse(mark.Encode(), read));
        EXPECT_EQ(read, mark);
    }
    EXPECT_LE(born.Encode().size(), 64u);
    // A wrong kind of birth, or one cut short, is damage.
    for (std::string damaged : {born.Encode(), generation.Encode()}) {
        damaged.pop_back();
        CopyMark untouched;
        EXPECT_FALSE(CopyMark::Parse(damaged, untouched));
    }
    std::string strange = Typical().Encode();
    strange.back() = 7;
    CopyMark untouched;
    EXPECT_FALSE(CopyMark::Parse(strange, untouched));
}

// A mark settles nothing by its inode number alone: a later file given that number has
// another birth, and a mark without a birth asks for the source unchanged since.
TEST(CopyMarkTest, ASourceIsKnownByItsInodeAndBirth) {
    CopyMark mark = Typical();
    mark.BirthKind = CopyMark::Birth::Time;
    mark.BirthSec = 1795000000;
    CopyMark same = mark;
    same.MtimeSec += 100; // written since, but rewritten as it was: the bytes will tell
    CopyMark later = mark;
    later.BirthSec += 1;
    CopyMark grown = mark;
    grown.Size += 1;
    CopyMark elsewhere = mark;
    elsewhere.Ino += 1;
    struct Case {
        const CopyMark& Now;
        bool IsOf, Outlived;
    } cases[] = {{same, true, false},
                 {later, false, true},
                 {grown, false, false},
                 {elsewhere, false, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(mark.IsOf(c.Now), c.IsOf) << &c - cases;
        EXPECT_EQ(mark.Outlived(c.Now), c.Outlived) << &c - cases;
    }
    // Of an earlier version: the source unchanged since, or nothing is known.
    const CopyMark old = Typical();
    CopyMark untouched = old;
    untouched.BirthKind = CopyMark::Birth::Time;
    EXPECT_TRUE(old.IsOf(untouched));
    EXPECT_FALSE(old.IsOf(same));
    EXPECT_FALSE(old.Outlived(later));

    // The files here are told apart by their birth (ext4 and tmpfs keep one).
    char path[] = "/tmp/copy-mark-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(fstat(fd, &st), 0);
    const CopyMark real = CopyMark::Of(fd, st, 0);
    EXPECT_NE(real.BirthKind, CopyMark::Birth::Unknown);
    EXPECT_TRUE(real.IsOf(CopyMark::Of(fd, st, 0)));
    close(fd);
    unlink(path);
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
