// The test stream generator: the azimuth record's bytes, where it sits in the access units,
// and that the output is reproducible.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "streamgen.h"

namespace {

namespace sg = kesto::streamgen;
using Bytes = std::vector<uint8_t>;

const Bytes kStartCode = {0, 0, 0, 1};

Bytes Unescape(const Bytes& escaped) {
    Bytes out;
    int zeros = 0;
    for (const uint8_t byte : escaped) {
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
    return out;
}

// NAL unit types in stream order (start codes 00 00 01 and 00 00 00 01).
std::vector<int> NalTypes(const Bytes& accessUnit) {
    std::vector<int> types;
    for (size_t i = 0; i + 3 < accessUnit.size(); ++i) {
        if (accessUnit[i] == 0 && accessUnit[i + 1] == 0 && accessUnit[i + 2] == 1) {
            types.push_back(accessUnit[i + 3] & 0x1F);
            i += 2;
        }
    }
    return types;
}

bool StartsWith(const Bytes& data, size_t offset, const Bytes& prefix) {
    return data.size() >= offset + prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), data.begin() + static_cast<long>(offset));
}

TEST(StreamgenSei, RecordBytesAreExactAndEscaped) {
    // 2.0f is 00 00 00 40: together with the word 24 (18 00 00 00) it needs two escapes.
    const Bytes expected = {0x00, 0x00, 0x00, 0x01, 0x06, 0x05, 0x18, 0x68, 0xA2, 0xDC, 0x40, 0x28,
                            0xCA, 0x26, 0x41, 0x87, 0x11, 0x2C, 0xE4, 0x2C, 0x15, 0x0B, 0x58, 0x18,
                            0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x00, 0x40, 0x80};
    EXPECT_EQ(sg::MakeAzimuthSeiNal(2.0f), expected);

    const float samples[] = {0.0f, 2.0f, 1e-45f, 3e-39f, -3.14159274f};
    for (const float azimuth : samples) {
        SCOPED_TRACE(azimuth);
        const Bytes nal = sg::MakeAzimuthSeiNal(azimuth);
        ASSERT_TRUE(StartsWith(nal, 0, {0, 0, 0, 1, 0x06}));
        for (size_t i = 4; i + 2 < nal.size(); ++i) {
            EXPECT_FALSE(nal[i] == 0 && nal[i + 1] == 0 && nal[i + 2] <= 2) << "at " << i;
        }
        const Bytes rbsp = Unescape(Bytes(nal.begin() + 5, nal.end()));
        EXPECT_EQ(rbsp, sg::MakeAzimuthSeiRbsp(azimuth));
        ASSERT_EQ(rbsp.size(), 27u);
        float decoded = 0;
        std::memcpy(&decoded, rbsp.data() + 22, 4);  // little-endian host
        EXPECT_EQ(std::memcmp(&decoded, &azimuth, 4), 0);
    }
}

TEST(StreamgenStream, IdrUnitsStartWithSpsAndEveryPictureCarriesOneRecord) {
    sg::GeneratorOptions options;
    options.side = 64;
    options.gop = 3;
    sg::StreamGenerator generator(options);
    sg::StreamGenerator twin(options);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE("picture " + std::to_string(i));
        const float azimuth = 0.25f * static_cast<float>(i);
        const Bytes unit = generator.NextFrame(azimuth);
        EXPECT_EQ(unit, twin.NextFrame(azimuth)) << "output must be reproducible";
        const std::vector<int> types = NalTypes(unit);
        const Bytes record = sg::MakeAzimuthSeiNal(azimuth);
        const int sei = static_cast<int>(std::count(types.begin(), types.end(), 6));
        EXPECT_EQ(sei, 1) << "only the azimuth record, not the encoder's own SEI";
        if (i % options.gop == 0) {
            ASSERT_TRUE(StartsWith(unit, 0, {0, 0, 0, 1, 0x67}));
            ASSERT_GE(types.size(), 4u);
            EXPECT_EQ(types[1], 8);  // PPS, then the record
            EXPECT_EQ(types[2], 6);
            EXPECT_NE(std::search(unit.begin(), unit.end(), record.begin(), record.end()),
                      unit.end());
            EXPECT_EQ(types.back(), 5);
        } else {
            EXPECT_TRUE(StartsWith(unit, 0, record));
            EXPECT_EQ(std::count(types.begin(), types.end(), 7), 0);
            EXPECT_EQ(std::count(types.begin(), types.end(), 5), 0);
        }
    }

    options.azimuthRecord = false;
    sg::StreamGenerator bare(options);
    const Bytes idr = bare.NextFrame(1.0f);
    EXPECT_TRUE(StartsWith(idr, 0, {0, 0, 0, 1, 0x67}));
    const std::vector<int> types = NalTypes(bare.NextFrame(1.0f));
    EXPECT_EQ(std::count(types.begin(), types.end(), 6), 0);
}

}  // namespace
