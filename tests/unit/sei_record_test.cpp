#include <gtest/gtest.h>

#include <vector>

#include "decoder/sei_record.h"

namespace kesto {
namespace {

TEST(ReadSeiSize, AddsRunsOfFFAndReportsACutShortField) {
    const uint8_t ffff12[] = {0xFF, 0xFF, 0x12, 0, 0};
    const struct {
        const uint8_t* field;
        int length, size, remaining;
    } cases[] = {{ffff12, 5, 528, 2}, {nullptr, 0, 0, -1}, {ffff12, 1, 255, -1}};
    for (const auto& c : cases) {
        const SeiSize size = readSeiSize(c.field, c.length);
        EXPECT_EQ(size.size, c.size) << c.length;
        EXPECT_EQ(size.remaining, c.remaining) << c.length;
    }
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

}  // namespace
}  // namespace kesto
