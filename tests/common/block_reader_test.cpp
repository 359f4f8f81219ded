// The block-at-a-time reader behind a view: every read answers exactly as the
// same read of the bytes in memory would, wherever the blocks begin and end,
// and a source that can no longer deliver fails the read instead of faulting.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/common/block_reader.h"

namespace vost {
namespace {

// Bytes in memory, read as a file would be; reads past `readable` fail, as
// reads of a file that shrank after it was opened.
class MemoryBlockReader : public BlockReader {
    const std::vector<std::uint8_t>& bytes_;

public:
    explicit MemoryBlockReader(const std::vector<std::uint8_t>& bytes)
        : BlockReader(bytes.size()), bytes_(bytes), readable(bytes.size()) {}
    int rawReads = 0;
    std::uint64_t readable;

private:
    bool readRaw(std::uint64_t offset, std::size_t length, void* out) override {
        ++rawReads;
        EXPECT_LE(offset + length, bytes_.size()) << "asked past the size";
        if (offset + length > readable) return false;
        std::memcpy(out, bytes_.data() + offset, length);
        return true;
    }
};

std::vector<std::uint8_t> randomBytes(std::size_t size, std::mt19937& random) {
    std::vector<std::uint8_t> bytes(size);
    // Zeros are frequent, so that texts of every length end inside the bytes.
    for (auto& b : bytes) b = random() % 4 == 0 ? 0 : std::uint8_t(random());
    return bytes;
}

// One random read of each kind on both views; the answers must agree.
void compareReads(const ByteView& memory, const ByteView& blocks, std::mt19937& random) {
    const std::uint64_t size = memory.size();
    auto offset = [&]() -> std::uint64_t {
        switch (random() % 4) {
        case 0: return random() % (size + 16);
        case 1: return (random() % (size / BlockReader::kBlockSize + 2)) * BlockReader::kBlockSize - random() % 8;
        case 2: return size - random() % 8;
        default: return 0xFFFFFFFFull + random() % 4;
        }
    };
    const std::uint64_t at = offset();
    std::uint16_t a16 = 1, b16 = 1;
    std::uint32_t a32 = 1, b32 = 1;
    ASSERT_EQ(memory.readU16(at, a16), blocks.readU16(at, b16)) << at;
    ASSERT_EQ(a16, b16) << at;
    ASSERT_EQ(memory.readU32(at, a32), blocks.readU32(at, b32)) << at;
    ASSERT_EQ(a32, b32) << at;

    const std::uint64_t length = random() % 3 == 0 ? random() % 12000 : random() % 300;
    std::vector<std::uint8_t> a(length + 1, 7), b(length + 1, 7);
    ASSERT_EQ(memory.readBytes(at, length, a.data()), blocks.readBytes(at, length, b.data())) << at;
    ASSERT_EQ(a, b) << at << " " << length;

    const std::size_t capacity = 1 + random() % 300;
    std::vector<char> ta(capacity, 'x'), tb(capacity, 'x');
    const bool okA = memory.readCString(at, ta.data(), capacity);
    ASSERT_EQ(okA, blocks.readCString(at, tb.data(), capacity)) << at;
    ASSERT_STREQ(ta.data(), tb.data()) << at;

    const ByteView sa = memory.slice(at, length), sb = blocks.slice(at, length);
    ASSERT_EQ(sa.size(), sb.size());
    ASSERT_EQ(sa.start(), sb.start());
    if (sa.size()) {
        const std::uint64_t inner = random() % sa.size();
        ASSERT_EQ(sa.readU32(inner, a32), sb.readU32(inner, b32));
        ASSERT_EQ(a32, b32);
    }
}

TEST(BlockReader, EveryReadAgreesWithTheSameBytesInMemory) {
    std::mt19937 random(20261207);
    // Sizes below one block, at a block boundary, and with a partial last block.
    for (std::size_t size : {1u, 100u, 4095u, 4096u, 4097u, 3 * 4096u, 41234u}) {
        const std::vector<std::uint8_t> bytes = randomBytes(size, random);
        MemoryBlockReader reader(bytes);
        const ByteView memory(bytes.data(), bytes.size());
        const ByteView blocks = reader.view();
        for (int i = 0; i < 4000; ++i) {
            compareReads(memory, blocks, random);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(BlockReader, SmallReadsCloseTogetherCostOneReadOfTheFile) {
    std::mt19937 random(7);
    const std::vector<std::uint8_t> bytes = randomBytes(64 * 1024, random);
    MemoryBlockReader reader(bytes);
    const ByteView view = reader.view();
    std::uint32_t value = 0;
    for (std::uint64_t at = 0; at + 4 <= BlockReader::kBlockSize; at += 4) ASSERT_TRUE(view.readU32(at, value));
    EXPECT_EQ(1, reader.rawReads);
    // A field across a block boundary reads both blocks once; going back to a
    // block still kept reads nothing more.
    ASSERT_TRUE(view.readU32(2 * BlockReader::kBlockSize - 2, value));
    ASSERT_TRUE(view.readU32(16, value));
    EXPECT_EQ(3, reader.rawReads);
    // More blocks than are kept: the oldest is read again when asked for.
    std::uint8_t byte = 0;
    for (int b = 3; b < 3 + BlockReader::kBlockCount; ++b) ASSERT_TRUE(view.readU8(b * BlockReader::kBlockSize, byte));
    const int before = reader.rawReads;
    ASSERT_TRUE(view.readU32(16, value));
    EXPECT_EQ(before + 1, reader.rawReads);
}

TEST(BlockReader, BytesThatCanNoLongerBeReadFailTheRead) {
    std::mt19937 random(3);
    const std::vector<std::uint8_t> bytes = randomBytes(5 * 4096, random);
    MemoryBlockReader reader(bytes);
    const ByteView view = reader.view();
    reader.readable = 2 * 4096 + 10;  // the file was cut after it was opened
    std::uint32_t value = 0;
    char text[64];
    std::vector<std::uint8_t> big(8192);
    EXPECT_TRUE(view.readU32(4096, value));
    EXPECT_FALSE(view.readU32(3 * 4096, value));
    EXPECT_FALSE(view.readU32(2 * 4096 + 8, value));  // its block reaches past the cut
    EXPECT_FALSE(view.readBytes(4096, big.size(), big.data()));
    EXPECT_FALSE(view.readCString(4 * 4096, text, sizeof text));
    EXPECT_STREQ(text, "");
    // A failed block is not kept as if it had been read.
    reader.readable = bytes.size();
    EXPECT_TRUE(view.readU32(3 * 4096, value));
    EXPECT_EQ(0, std::memcmp(&value, bytes.data() + 3 * 4096, 4));
}

}  // namespace
}  // namespace vost
