// The bounded reader: every read either lies wholly inside the view or fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "analysis/byte_view.h"

namespace vost {
namespace {

// Eight bytes in a buffer of exactly that size, so a sanitizer sees any overrun.
struct EightBytes {
    std::unique_ptr<std::uint8_t[]> data{new std::uint8_t[8]{0x4D, 0x5A, 0x01, 0x02, 0x03, 0x04, 0x05, 0xFF}};
    ByteView view{data.get(), 8};
};

TEST(ByteView, ReadsLittleEndianOnlyWhenTheWholeValueFits) {
    EightBytes b;
    std::uint16_t u16 = 0;
    std::uint32_t u32 = 0;
    EXPECT_TRUE(b.view.readU16(0, u16));
    EXPECT_EQ(u16, 0x5A4D);
    EXPECT_TRUE(b.view.readU32(4, u32));
    EXPECT_EQ(u32, 0xFF050403u);
    EXPECT_FALSE(b.view.readU32(5, u32));  // 3 of 4 bytes inside
    EXPECT_FALSE(b.view.readU16(7, u16));
    std::uint8_t u8 = 0;
    EXPECT_TRUE(b.view.readU8(7, u8));
    EXPECT_FALSE(b.view.readU8(8, u8));
}

TEST(ByteView, OffsetsThatWouldWrapAreOutside) {
    EightBytes b;
    std::uint32_t u32 = 0;
    std::uint16_t u16 = 0;
    char text[16];
    std::uint8_t out[8];
    // Offsets taken from a file are 32-bit; in a 32-bit sum they would wrap
    // back into the buffer.
    for (std::uint64_t offset : {0xFFFFFFFFull, 0xFFFFFFFEull, 0xFFFFFFFCull, 0x100000000ull,
                                 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFEull}) {
        EXPECT_FALSE(b.view.readU32(offset, u32)) << offset;
        EXPECT_FALSE(b.view.readU16(offset, u16)) << offset;
        EXPECT_FALSE(b.view.readCString(offset, text, sizeof text)) << offset;
        EXPECT_FALSE(b.view.readBytes(offset, 1, out)) << offset;
        EXPECT_FALSE(b.view.contains(offset, 4)) << offset;
        EXPECT_EQ(b.view.slice(offset, 1).size(), 0u);
    }
    EXPECT_FALSE(b.view.contains(4, 0xFFFFFFFFFFFFFFFFull));  // length wrapping the sum
    EXPECT_FALSE(b.view.readBytes(1, 0xFFFFFFFFFFFFFFFFull, out));
    EXPECT_TRUE(b.view.contains(8, 0));  // the empty range at the end is inside
    EXPECT_EQ(b.view.slice(2, 4).size(), 4u);
}

TEST(ByteView, CStringNeedsItsTerminatorInsideTheViewAndTheBuffer) {
    const char raw[] = {'a', 'b', 'c', '\0', 'd', 'e', 'f'};  // no terminator after "def"
    auto data = std::make_unique<std::uint8_t[]>(sizeof raw);
    std::memcpy(data.get(), raw, sizeof raw);
    const ByteView view(data.get(), sizeof raw);
    char text[8] = "zzzzzzz";

    EXPECT_TRUE(view.readCString(0, text, sizeof text));
    EXPECT_STREQ(text, "abc");
    EXPECT_TRUE(view.readCString(3, text, sizeof text));  // an empty text is still a text
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(view.readCString(4, text, sizeof text));  // runs to the end of the file
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(view.readCString(0, text, 3));  // "abc" needs 4 bytes
    EXPECT_STREQ(text, "");
    EXPECT_TRUE(view.readCString(0, text, 4));
    EXPECT_FALSE(view.readCString(0, text, 0));
}

TEST(ByteView, EmptyAndNullViewsHoldNothing) {
    const ByteView empty;
    const ByteView nullWithSize(static_cast<const std::uint8_t*>(nullptr), 100);
    std::uint8_t u8 = 0;
    EXPECT_EQ(nullWithSize.size(), 0u);
    EXPECT_FALSE(empty.readU8(0, u8));
    EXPECT_FALSE(nullWithSize.readU8(0, u8));
    EXPECT_TRUE(empty.contains(0, 0));
}

}  // namespace
}  // namespace vost
