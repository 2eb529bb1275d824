#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/recording_reader.h"

namespace kesto {
namespace {

using Chunks = std::vector<std::pair<std::size_t, std::size_t>>;

// Records past the end are cut and the index wraps on its own count; zero and negative records
// give empty chunks in place; without a sidecar, fixed chunks.
TEST(PacketCursor, WalksTheDataByItsRecordsPassAfterPass) {
    const struct {
        std::size_t length;
        std::vector<int32_t> records;
        Chunks chunks;
    } cases[] = {
        {10, {4, 6}, {{0, 4}, {4, 6}, {0, 4}, {4, 6}}},
        {10, {4, 100, 3}, {{0, 4}, {4, 6}, {0, 3}, {3, 4}, {7, 3}}},
        {10,
         {3, 0, -5, static_cast<int32_t>(0x80000000u), 2},
         {{0, 3}, {3, 0}, {3, 0}, {3, 0}, {3, 2}, {5, 3}, {8, 0}, {8, 0}, {8, 0}, {8, 2}}},
        {40000, {}, {{0, 32768}, {32768, 7232}, {0, 32768}}},
    };
    for (const auto& c : cases) {
        PacketCursor cursor(c.length, c.records);
        Chunks chunks;
        for (std::size_t i = 0; i < c.chunks.size(); ++i) {
            const RecordingChunk chunk = cursor.Next();
            chunks.emplace_back(chunk.offset, chunk.length);
        }
        EXPECT_EQ(chunks, c.chunks) << c.length << " bytes, " << c.records.size() << " records";
    }
    // A pass of only empty records is idle at its end; so is empty data.
    PacketCursor empty(0, {});
    EXPECT_TRUE(empty.Next().idle);
    PacketCursor allEmpty(10, {0, -1});
    EXPECT_FALSE(allEmpty.Next().idle);
    EXPECT_TRUE(allEmpty.Next().idle);
    PacketCursor normal(10, {5, 5});
    normal.Next();
    EXPECT_FALSE(normal.Next().idle);
}

}  // namespace
}  // namespace kesto
