#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "decoder/decoder_sink.h"
#include "decoder/sei_record.h"

namespace kesto {
namespace {

std::vector<uint8_t> Record(float azimuth, uint32_t word = kKestoInfoWord,
                            std::vector<uint8_t> sizeField = {24}, std::size_t payloadBytes = 24) {
    std::vector<uint8_t> unit{kUserDataUnregistered};
    unit.insert(unit.end(), sizeField.begin(), sizeField.end());
    std::vector<uint8_t> payload(kKestoInfoIdentifier, kKestoInfoIdentifier + 16);
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<uint8_t>(word >> (8 * i)));
    uint32_t bits;
    std::memcpy(&bits, &azimuth, 4);
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    payload.resize(payloadBytes, 0);
    unit.insert(unit.end(), payload.begin(), payload.end());
    unit.push_back(0x80);
    return unit;
}

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

TEST(KestoInfoRecord, ReadsTheAzimuthOfAValidRecord) {
    const auto unit = Record(1.25f);
    const KestoInfo info = ParseKestoInfoRecord(unit.data(), static_cast<int>(unit.size()));
    EXPECT_EQ(info.result, KestoInfoResult::Azimuth);
    EXPECT_EQ(info.azimuth, 1.25f);

    // Bytes after offset 24 are ignored; a NaN is passed on as it is.
    const auto longer = Record(std::nanf(""), kKestoInfoWord, {40}, 40);
    const KestoInfo nan = ParseKestoInfoRecord(longer.data(), static_cast<int>(longer.size()));
    EXPECT_EQ(nan.result, KestoInfoResult::Azimuth);
    EXPECT_TRUE(std::isnan(nan.azimuth));
}

TEST(KestoInfoRecord, IgnoresOtherRecordsAndFlagsAShortPayload) {
    const auto typeOnly = std::vector<uint8_t>{5};
    EXPECT_EQ(ParseKestoInfoRecord(typeOnly.data(), 1).result, KestoInfoResult::SizeMismatch);

    auto cut = Record(1.0f);
    cut.resize(10);  // size field says 24, ten bytes present
    EXPECT_EQ(ParseKestoInfoRecord(cut.data(), 10).result, KestoInfoResult::SizeMismatch);

    const auto word25 = Record(1.0f, 25);
    EXPECT_EQ(ParseKestoInfoRecord(word25.data(), static_cast<int>(word25.size())).result,
              KestoInfoResult::NotKestoInfo);

    const auto size20 = Record(1.0f, kKestoInfoWord, {20}, 20);
    EXPECT_EQ(ParseKestoInfoRecord(size20.data(), static_cast<int>(size20.size())).result,
              KestoInfoResult::NotKestoInfo);

    auto otherId = Record(1.0f);
    otherId[2] ^= 1;
    EXPECT_EQ(ParseKestoInfoRecord(otherId.data(), static_cast<int>(otherId.size())).result,
              KestoInfoResult::NotKestoInfo);

    // Only the first message counts: a record behind a message of another type is ignored.
    std::vector<uint8_t> twoMessages{1, 2, 0xAA, 0xBB};
    const auto record = Record(1.0f);
    twoMessages.insert(twoMessages.end(), record.begin(), record.end());
    EXPECT_EQ(ParseKestoInfoRecord(twoMessages.data(), static_cast<int>(twoMessages.size())).result,
              KestoInfoResult::NotKestoInfo);

    EXPECT_EQ(ParseKestoInfoRecord(nullptr, 0).result, KestoInfoResult::NotKestoInfo);
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
