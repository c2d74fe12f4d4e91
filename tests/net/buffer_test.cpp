#include "net/buffer.h"
#include "net/id_errors.h"

#include <gtest/gtest.h>

namespace ferry {
namespace {

TEST(Buffer, GrowsByQueuedPlusNewPlus2048AndOnlyWhenSpareRoomIsShort) {
    TIdBuffer b;
    b.Write(std::string(100, 'a'));
    // The first block becomes the storage as it is.
    EXPECT_EQ(b.StorageSize(), 100u);
    b.Write(std::string(10, 'b'));
    EXPECT_EQ(b.StorageSize(), 100u + 10 + 2048);
    // Fits in the spare room: no growth.
    b.Write(std::string(2048, 'c'));
    EXPECT_EQ(b.StorageSize(), 2158u);
    b.Write(std::string(1, 'd'));
    EXPECT_EQ(b.StorageSize(), 2159u + 2048);
    EXPECT_EQ(b.Size(), 2159);
    EXPECT_EQ(b.ExtractToString(101), std::string(100, 'a') + "b");
}

TEST(Buffer, ShrinksOnceFrontPasses2048AndEmptiesStorageWhenDrained) {
    TIdBuffer b;
    b.Write(std::string(10000, 'x'));
    b.Extract(2048);
    // The front offset has not passed 2048 yet: nothing moves.
    EXPECT_EQ(b.StorageSize(), 10000u);
    b.Extract(1);
    // Moved to the front; 2049 spare bytes are more than 2048, so cut to queued + 2048.
    EXPECT_EQ(b.Size(), 7951);
    EXPECT_EQ(b.StorageSize(), 7951u + 2048);
    b.Extract(100);
    EXPECT_EQ(b.StorageSize(), 7951u + 2048);
    b.Extract(b.Size());
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.StorageSize(), 0u);
}

TEST(Buffer, KeepsOrderAcrossMovesAndSearchesFromOffset) {
    TIdBuffer b;
    std::string all;
    for (int i = 0; i < 500; ++i) {
        std::string piece = std::to_string(i) + ",";
        b.Write(piece);
        all += piece;
        if (i % 3 == 0) {
            std::string got = b.ExtractToString(2);
            EXPECT_EQ(got, all.substr(0, 2));
            all.erase(0, 2);
        }
    }
    EXPECT_EQ(b.ExtractToString(), all);
    b.Write(std::string("ab\r\ncd\r\n"));
    EXPECT_EQ(b.IndexOf("\r\n"), 2);
    EXPECT_EQ(b.IndexOf("\r\n", 3), 6);
    EXPECT_EQ(b.IndexOf("\r\n", 7), -1);
    EXPECT_EQ(b.IndexOf("zz"), -1);
}

TEST(Buffer, FourErrorsWithTheirTexts) {
    TIdBuffer b;
    b.Write(std::string("abc"));
    try {
        b.Extract(5);
        FAIL();
    } catch (const EIdNotEnoughDataInBuffer& e) {
        EXPECT_EQ(e.message(), "Not enough data in buffer. (5/3)");
    }
    EXPECT_EQ(b.Size(), 3);
    try {
        b.IndexOf(std::string());
        FAIL();
    } catch (const EIdException& e) {
        EXPECT_EQ(e.message(), "Buffer terminator must be specified.");
    }
    for (int bad : {-1, 3, 10}) {
        try {
            b.IndexOf("a", bad);
            FAIL() << bad;
        } catch (const EIdException& e) {
            EXPECT_EQ(e.message(), "Buffer start position is invalid.");
        }
    }
    // The size limit is checked before any memory is touched, so a huge claimed append
    // raises without allocating.
    std::string big(1 << 20, 'z');
    TIdBuffer full;
    try {
        full.Write(reinterpret_cast<const uint8_t*>(big.data()), size_t(2147483647) + 1);
        FAIL();
    } catch (const EIdTooMuchDataInBuffer& e) {
        EXPECT_EQ(e.message(), "Too much data in buffer.");
    }
    EXPECT_TRUE(full.IsEmpty());
}

} // namespace
} // namespace ferry
