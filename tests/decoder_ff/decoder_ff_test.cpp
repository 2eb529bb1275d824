// The stand-in decoder library, loaded the way the client loads it and driven in the client's
// calling order: feed a chunk, collect SEI units until none are left, then pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "decoder/decoder_api.h"
#include "recordings.h"
#include "streamgen.h"
#include "test_platform.h"

namespace {

namespace sg = kesto::streamgen;
using Bytes = std::vector<uint8_t>;

// Any NAL unit that opens an access unit makes the parser release the one before it.
const Bytes kAccessUnitDelimiter = {0, 0, 0, 1, 0x09, 0x10};

struct Output {
    std::vector<Bytes> pictures;
    std::vector<Bytes> seiUnits;
};

// Lossy coding moves solid colours by a few levels at most.
void ExpectTestPicture(const Bytes& bgrx, int side) {
    ASSERT_EQ(bgrx.size(), static_cast<size_t>(side) * side * 4);
    const sg::Rgb colours[] = {sg::kTopLeft, sg::kTopRight, sg::kBottomLeft, sg::kBottomRight};
    for (int q = 0; q < 4; ++q) {
        const int x = sg::QuadrantCentre(side, q % 2 == 1), y = sg::QuadrantCentre(side, q >= 2);
        const uint8_t* p = &bgrx[(static_cast<size_t>(y) * side + x) * 4];
        const int shown[] = {p[2], p[1], p[0]};
        const int wanted[] = {colours[q].r, colours[q].g, colours[q].b};
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(shown[c], wanted[c], 16) << x << "," << y << " " << c;
    }
}

class DecoderFfTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library.Loaded()) << library.Error();
        ASSERT_TRUE(init && onNewData && getSeiNal && getFrame && getInfo && getLastError &&
                    shutdown);
        ASSERT_TRUE(init(0));
    }
    void TearDown() override {
        if (shutdown != nullptr) shutdown();
    }
    template <typename Fn>
    Fn Bind(const char* name) {
        return library.Loaded() ? reinterpret_cast<Fn>(library.Symbol(name)) : nullptr;
    }

    // Feeds `bytes` in pieces of `chunk` bytes (everything at once for 0), draining after each.
    void Feed(const Bytes& bytes, size_t chunk, Output& out) const {
        if (chunk == 0) chunk = bytes.size();
        for (size_t offset = 0; offset < bytes.size(); offset += chunk) {
            onNewData(bytes.data() + offset,
                      static_cast<int>(std::min(chunk, bytes.size() - offset)), 0);
            const uint8_t* data = nullptr;
            int size = 0;
            while (getSeiNal(&data, &size)) out.seiUnits.emplace_back(data, data + size);
            while (getFrame(&data, &size, 0)) out.pictures.emplace_back(data, data + size);
        }
    }

    kesto::test::LoadedLibrary library{KESTO_DECODER_FF_PATH};
    DecoderInitFn init = Bind<DecoderInitFn>("DecoderInit");
    DecoderOnNewDataFn onNewData = Bind<DecoderOnNewDataFn>("DecoderOnNewData");
    DecoderGetSeiNALFn getSeiNal = Bind<DecoderGetSeiNALFn>("DecoderGetSeiNAL");
    DecoderGetFrameFn getFrame = Bind<DecoderGetFrameFn>("DecoderGetFrame");
    DecoderGetInfoFn getInfo = Bind<DecoderGetInfoFn>("DecoderGetInfo");
    DecoderGetLastErrorFn getLastError = Bind<DecoderGetLastErrorFn>("DecoderGetLastError");
    DecoderShutdownFn shutdown = Bind<DecoderShutdownFn>("DecoderShutdown");
};

// 100 is not a multiple of the macroblock size, so the decoder must apply the cropping; two
// slices per picture, so the parser also has to keep slices of one picture together. Several
// azimuths have float bytes that need emulation prevention (2.0f is 00 00 00 40, the smallest
// denormal 01 00 00 00); libx264's own banner SEI in the first access unit checks that a second
// SEI unit in one access unit comes out too, in order.
TEST_F(DecoderFfTest, PicturesAndRecordsComeOutExactlyAndOneAccessUnitLateAnyChunking) {
    sg::GeneratorOptions options;
    options.side = 100;
    options.gop = 3;
    options.slices = 2;
    options.keepEncoderSei = true;
    const std::vector<float> azimuths = {2.0f, 0.0f, -0.0f, 1e-45f, 3.14159274f, -1.5f, 1.0f};
    sg::StreamGenerator generator(options);
    Bytes joined;
    Output reference;
    for (size_t i = 0; i < azimuths.size(); ++i) {
        const Bytes unit = generator.NextFrame(azimuths[i]);
        joined.insert(joined.end(), unit.begin(), unit.end());
        // Every third picture an IDR picture, opening with its sequence parameter set.
        EXPECT_EQ(unit.size() > 4 && (unit[4] & 0x1F) == 7, i % 3 == 0) << i;
        Feed(unit, 0, reference);
        // An access unit is only known to be complete once the next one starts; its record
        // comes no later than the picture.
        EXPECT_EQ(reference.pictures.size(), i);
        EXPECT_GE(reference.seiUnits.size(), reference.pictures.size());
    }
    Feed(kAccessUnitDelimiter, 0, reference);
    ASSERT_EQ(reference.pictures.size(), azimuths.size());
    for (const Bytes& picture : reference.pictures) ExpectTestPicture(picture, 100);
    ASSERT_EQ(reference.seiUnits.size(), azimuths.size() + 1);
    const Bytes& banner = reference.seiUnits[1];  // between the first record and the first slice
    EXPECT_NE(std::string(banner.begin(), banner.end()).find("x264"), std::string::npos);
    for (size_t i = 0; i < azimuths.size(); ++i)
        EXPECT_EQ(reference.seiUnits[i < 1 ? i : i + 1], sg::MakeAzimuthSeiRbsp(azimuths[i])) << i;

    for (const size_t chunk : {size_t{1}, size_t{7}}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        shutdown();
        ASSERT_TRUE(init(0));
        Output out;
        Feed(joined, chunk, out);
        Feed(kAccessUnitDelimiter, 0, out);
        EXPECT_EQ(out.seiUnits, reference.seiUnits);
        EXPECT_EQ(out.pictures, reference.pictures);
    }
}

// Random bytes salted with start codes of every NAL unit type, then a good stream: the good
// stream must still decode from its first IDR picture on.
TEST_F(DecoderFfTest, AGoodStreamAfterGarbageDecodesFromItsFirstIdrPicture) {
    std::mt19937 random(12345);
    Bytes garbage(32 * 1024);
    for (uint8_t& byte : garbage) byte = static_cast<uint8_t>(random());
    for (size_t at = 0; at + 4 < garbage.size(); at += 97) {
        garbage[at] = garbage[at + 1] = 0;
        garbage[at + 2] = 1;
        garbage[at + 3] = static_cast<uint8_t>(random() & 0x7F);
    }
    Output out;
    Feed(garbage, 61, out);
    for (const Bytes& picture : out.pictures) EXPECT_EQ(picture.size() % 4, 0u);
    const size_t before = out.pictures.size();
    for (const Bytes& unit : kesto::test::GeneratePackets(8)) Feed(unit, 0, out);
    Feed(kAccessUnitDelimiter, 0, out);
    ASSERT_EQ(out.pictures.size() - before, 8u);
    for (size_t i = before; i < out.pictures.size(); ++i) ExpectTestPicture(out.pictures[i], 64);
}

// The size asked with a null buffer, then the text in a buffer of that size; one byte less
// fails and leaves the buffer untouched.
TEST_F(DecoderFfTest, InfoAndLastErrorFollowTheTwoCallRule) {
    const std::function<bool(char*, int*)> getters[] = {
        [&](char* b, int* s) { return getInfo(b, s, 0); },
        [&](char* b, int* s) { return getLastError(b, s); }};
    for (const auto& get : getters) {
        int size = 0;
        ASSERT_TRUE(get(nullptr, &size));
        ASSERT_GE(size, 1);
        std::string text(static_cast<size_t>(size), 'x'), small(text, 1);
        int given = size, smaller = size - 1;
        ASSERT_TRUE(get(&text[0], &given));
        EXPECT_EQ(std::strlen(text.c_str()) + 1, static_cast<size_t>(size));
        if (size > 1) {
            EXPECT_FALSE(get(&small[0], &smaller));
        }
        EXPECT_EQ(small, std::string(small.size(), 'x'));
        EXPECT_FALSE(get(nullptr, nullptr));
        if (&get == &getters[0]) {
            EXPECT_NE(text.find("libavcodec"), std::string::npos) << text;
            EXPECT_NE(text.find("libswscale"), std::string::npos) << text;
        }
    }
}

}  // namespace
