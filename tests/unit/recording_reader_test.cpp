#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "record/recording_format.h"
#include "stream/recording_reader.h"

namespace kesto {
namespace {

std::vector<std::pair<std::size_t, std::size_t>> Walk(PacketCursor& cursor, int count) {
    std::vector<std::pair<std::size_t, std::size_t>> chunks;
    for (int i = 0; i < count; ++i) {
        const RecordingChunk chunk = cursor.Next();
        chunks.emplace_back(chunk.offset, chunk.length);
    }
    return chunks;
}

using Chunks = std::vector<std::pair<std::size_t, std::size_t>>;

TEST(PacketCursor, MatchingSidecarReplaysTheRecordedPacketsEveryPass) {
    PacketCursor cursor(10, {4, 6});
    EXPECT_EQ(Walk(cursor, 4), (Chunks{{0, 4}, {4, 6}, {0, 4}, {4, 6}}));
}

TEST(PacketCursor, RecordPastTheEndIsCutAndTheIndexWrapsOnItsOwnCount) {
    PacketCursor cursor(10, {4, 100, 3});
    EXPECT_EQ(Walk(cursor, 5), (Chunks{{0, 4}, {4, 6}, {0, 3}, {3, 4}, {7, 3}}));
}

TEST(PacketCursor, ZeroAndNegativeRecordsGiveEmptyChunksInPlace) {
    PacketCursor cursor(10, {3, 0, -5, static_cast<int32_t>(0x80000000u), 2});
    const Chunks chunks = Walk(cursor, 10);
    EXPECT_EQ(
        chunks,
        (Chunks{{0, 3}, {3, 0}, {3, 0}, {3, 0}, {3, 2}, {5, 3}, {8, 0}, {8, 0}, {8, 0}, {8, 2}}));
    for (const auto& [offset, length] : chunks) EXPECT_LE(offset + length, 10u);
}

TEST(PacketCursor, WithoutSidecarUsesFixedChunksAndEmptyDataIsIdle) {
    PacketCursor unframed(40000, {});
    EXPECT_EQ(Walk(unframed, 3), (Chunks{{0, 32768}, {32768, 7232}, {0, 32768}}));

    PacketCursor empty(0, {});
    EXPECT_TRUE(empty.Next().idle);
    PacketCursor allEmpty(10, {0, -1});
    EXPECT_FALSE(allEmpty.Next().idle);  // the pass is not over yet
    EXPECT_TRUE(allEmpty.Next().idle);
    PacketCursor normal(10, {5, 5});
    normal.Next();
    EXPECT_FALSE(normal.Next().idle);
}

TEST(RecordingFormat, SidecarRecordsAreLittleEndianAndAnIncompleteTailIsIgnored) {
    const std::string path = ::testing::TempDir() + "sidecar_test.bin";
    {
        std::ofstream out(path, std::ios::binary);
        unsigned char record[4];
        for (uint32_t size : {1u, 0x01020304u, 0xFFFFFFFFu}) {
            EncodeSidecarRecord(size, record);
            out.write(reinterpret_cast<char*>(record), 4);
        }
        out.write("\x07\x00", 2);
    }
    EXPECT_EQ(ReadSidecarRecords(path), (std::vector<int32_t>{1, 0x01020304, -1}));
    std::remove(path.c_str());
    EXPECT_TRUE(ReadSidecarRecords(path).empty());
}

}  // namespace
}  // namespace kesto
