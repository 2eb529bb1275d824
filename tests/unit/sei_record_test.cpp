#include <gtest/gtest.h>

#include <vector>

#include "decoder/decoder_sink.h"
#include "decoder/sei_record.h"

namespace kesto {
namespace {

TEST(ReadSeiSize, AddsRunsOfFFAndReportsACutShortField) {
    const uint8_t ffff12[] = {0xFF, 0xFF, 0x12, 0, 0};
    SeiSize size = readSeiSize(ffff12, 5);
    EXPECT_EQ(size.size, 528);
    EXPECT_EQ(size.remaining, 2);

    size = readSeiSize(nullptr, 0);  // only the type byte was there
    EXPECT_EQ(size.size, 0);
    EXPECT_EQ(size.remaining, -1);

    const uint8_t onlyFF[] = {0xFF};
    size = readSeiSize(onlyFF, 1);
    EXPECT_EQ(size.size, 255);
    EXPECT_EQ(size.remaining, -1);
}

// The unit is as long as the stream makes it: a size field of more 0xFF bytes than an int
// can count in 255s must not overflow (signed overflow; UBSan reports it in the asan preset).
TEST(ReadSeiSize, AnOverlongRunOfFFStaysLargerThanTheUnit) {
    std::vector<uint8_t> unit(8500000, 0xFF);
    unit[0] = kUserDataUnregistered;
    unit.back() = 0x10;
    const SeiSize size = readSeiSize(unit.data() + 1, static_cast<int>(unit.size()) - 1);
    EXPECT_EQ(size.remaining, 0);
    EXPECT_GT(size.size, 2000000000);
    EXPECT_EQ(ParseKestoInfoRecord(unit.data(), static_cast<int>(unit.size())).result,
              KestoInfoResult::SizeMismatch);
}

TEST(SquareFrameSide, AcceptsOnlyPerfectSquaresOfFourBytePixels) {
    EXPECT_EQ(SquareFrameSide(1048576), 512);
    EXPECT_EQ(SquareFrameSide(1000003), 500);  // size / 4 truncates
    EXPECT_EQ(SquareFrameSide(1200000), -1);   // 300,000 pixels
    EXPECT_EQ(SquareFrameSide(0), 0);
    EXPECT_EQ(SquareFrameSide(4), 1);
    EXPECT_EQ(SquareFrameSide(-4), -1);
}

}  // namespace
}  // namespace kesto
