// The stand-in decoder library, loaded the way the client loads it and driven in the client's
// calling order: feed a chunk, collect SEI units until none are left, then pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "decoder/decoder_api.h"
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
    bool operator==(const Output& other) const {
        return pictures == other.pictures && seiUnits == other.seiUnits;
    }
};

struct Stream {
    std::vector<Bytes> accessUnits;
    std::vector<float> azimuths;
    Bytes Joined() const {
        Bytes all;
        for (const Bytes& unit : accessUnits) all.insert(all.end(), unit.begin(), unit.end());
        return all;
    }
};

Stream Generate(const sg::GeneratorOptions& options, const std::vector<float>& azimuths) {
    sg::StreamGenerator generator(options);
    Stream stream;
    stream.azimuths = azimuths;
    for (const float azimuth : azimuths) stream.accessUnits.push_back(generator.NextFrame(azimuth));
    return stream;
}

std::vector<float> Ramp(int count) {
    std::vector<float> values;
    for (int i = 0; i < count; ++i) values.push_back(0.01f * static_cast<float>(i));
    return values;
}

class DecoderLibrary {
  public:
    DecoderLibrary() : library_(KESTO_DECODER_FF_PATH) {
        if (!library_.Loaded()) return;
        init = Bind<DecoderInitFn>("DecoderInit");
        onNewData = Bind<DecoderOnNewDataFn>("DecoderOnNewData");
        getSeiNal = Bind<DecoderGetSeiNALFn>("DecoderGetSeiNAL");
        getFrame = Bind<DecoderGetFrameFn>("DecoderGetFrame");
        shutdown = Bind<DecoderShutdownFn>("DecoderShutdown");
        getInfo = Bind<DecoderGetInfoFn>("DecoderGetInfo");
        getLastError = Bind<DecoderGetLastErrorFn>("DecoderGetLastError");
        setLogger = Bind<DecoderSetLoggerCallbackFn>("DecoderSetLoggerCallback");
    }
    DecoderLibrary(const DecoderLibrary&) = delete;
    DecoderLibrary& operator=(const DecoderLibrary&) = delete;

    const std::string& LoadError() const { return library_.Error(); }

    bool Complete() const {
        return init && onNewData && getSeiNal && getFrame && shutdown && getInfo && getLastError &&
               setLogger;
    }

    void Drain(Output& out) const {
        const uint8_t* data = nullptr;
        int size = 0;
        for (int guard = 0; guard < 10000 && getSeiNal(&data, &size); ++guard) {
            out.seiUnits.emplace_back(data, data + size);
        }
        for (int guard = 0; guard < 10000 && getFrame(&data, &size, 0); ++guard) {
            out.pictures.emplace_back(data, data + size);
        }
    }

    // Feeds `bytes` in pieces of `chunk` bytes (everything at once for 0), draining after each.
    void Feed(const Bytes& bytes, size_t chunk, Output& out) const {
        if (chunk == 0) chunk = bytes.size();
        for (size_t offset = 0; offset < bytes.size(); offset += chunk) {
            const size_t piece = std::min(chunk, bytes.size() - offset);
            onNewData(bytes.data() + offset, static_cast<int>(piece), 0);
            Drain(out);
        }
    }

    Output DecodeAll(const Stream& stream, size_t chunk) const {
        Output out;
        if (chunk == 0) {
            for (const Bytes& unit : stream.accessUnits) Feed(unit, 0, out);
        } else {
            Feed(stream.Joined(), chunk, out);
        }
        Feed(kAccessUnitDelimiter, 0, out);
        return out;
    }

    DecoderInitFn init = nullptr;
    DecoderOnNewDataFn onNewData = nullptr;
    DecoderGetSeiNALFn getSeiNal = nullptr;
    DecoderGetFrameFn getFrame = nullptr;
    DecoderShutdownFn shutdown = nullptr;
    DecoderGetInfoFn getInfo = nullptr;
    DecoderGetLastErrorFn getLastError = nullptr;
    DecoderSetLoggerCallbackFn setLogger = nullptr;

  private:
    template <typename Fn>
    Fn Bind(const char* name) {
        return reinterpret_cast<Fn>(library_.Symbol(name));
    }
    kesto::test::LoadedLibrary library_;
};

struct Pixel {
    int r, g, b;
};

Pixel At(const Bytes& bgrx, int side, int x, int y) {
    const size_t i = (static_cast<size_t>(y) * side + x) * 4;
    return {bgrx[i + 2], bgrx[i + 1], bgrx[i]};
}

// Lossy coding moves solid colours by a few levels at most.
::testing::AssertionResult Near(const Pixel& got, const sg::Rgb& want, const char* where) {
    constexpr int kTolerance = 16;
    if (std::abs(got.r - want.r) <= kTolerance && std::abs(got.g - want.g) <= kTolerance &&
        std::abs(got.b - want.b) <= kTolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << where << ": got (" << got.r << "," << got.g << "," << got.b << ") want ("
           << int{want.r} << "," << int{want.g} << "," << int{want.b} << ")";
}

void ExpectTestPicture(const Bytes& picture, int side) {
    ASSERT_EQ(picture.size(), static_cast<size_t>(side) * side * 4);
    const int left = sg::QuadrantCentre(side, false);
    const int right = sg::QuadrantCentre(side, true);
    EXPECT_TRUE(Near(At(picture, side, left, left), sg::kTopLeft, "top left"));
    EXPECT_TRUE(Near(At(picture, side, right, left), sg::kTopRight, "top right"));
    EXPECT_TRUE(Near(At(picture, side, left, right), sg::kBottomLeft, "bottom left"));
    EXPECT_TRUE(Near(At(picture, side, right, right), sg::kBottomRight, "bottom right"));
}

class DecoderFfTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(lib_.Complete())
            << "cannot load " << KESTO_DECODER_FF_PATH << ": " << lib_.LoadError();
        ASSERT_TRUE(lib_.init(0));
    }
    void TearDown() override {
        if (lib_.Complete()) lib_.shutdown();
    }
    DecoderLibrary lib_;
};

TEST_F(DecoderFfTest, PicturesComeOutSquareWithQuadrantColoursOneAccessUnitLate) {
    // 100 is not a multiple of the macroblock size, so the decoder must apply the cropping.
    for (const int side : {64, 100}) {
        SCOPED_TRACE("side " + std::to_string(side));
        sg::GeneratorOptions options;
        options.side = side;
        options.gop = 4;
        const Stream stream = Generate(options, Ramp(9));
        Output out;
        for (size_t i = 0; i < stream.accessUnits.size(); ++i) {
            lib_.Feed(stream.accessUnits[i], 0, out);
            // An access unit is only known to be complete once the next one starts.
            EXPECT_EQ(out.pictures.size(), i);
        }
        lib_.Feed(kAccessUnitDelimiter, 0, out);
        ASSERT_EQ(out.pictures.size(), stream.accessUnits.size());
        for (const Bytes& picture : out.pictures) ExpectTestPicture(picture, side);

        lib_.shutdown();
        ASSERT_TRUE(lib_.init(0));
    }
}

TEST_F(DecoderFfTest, SeiUnitsAreTheRecordsRbspWithExactAzimuths) {
    // Several of these have float bytes that need emulation prevention (2.0f is 00 00 00 40,
    // the smallest denormal 01 00 00 00); keeping libx264's own banner SEI in the first access
    // unit checks that a second SEI unit in one access unit comes out too, in order.
    const std::vector<float> azimuths = {2.0f, 0.0f,        -0.0f, 1.0f,      1e-45f,
                                         4.0f, 3.14159274f, -1.5f, 6.2831853f};
    sg::GeneratorOptions options;
    options.side = 64;
    options.keepEncoderSei = true;
    const Stream stream = Generate(options, azimuths);

    Output out;
    for (const Bytes& unit : stream.accessUnits) {
        lib_.Feed(unit, 0, out);
        // A picture's record is handed out no later than the picture.
        EXPECT_GE(out.seiUnits.size(), out.pictures.size());
    }
    lib_.Feed(kAccessUnitDelimiter, 0, out);
    ASSERT_EQ(out.pictures.size(), azimuths.size());
    ASSERT_EQ(out.seiUnits.size(), azimuths.size() + 1);

    std::vector<Bytes> records;
    for (size_t i = 0; i < out.seiUnits.size(); ++i) {
        const Bytes& unit = out.seiUnits[i];
        if (i == 1) {  // libx264's banner, between the first record and the first slice
            const std::string text(unit.begin(), unit.end());
            EXPECT_NE(text.find("x264"), std::string::npos);
            continue;
        }
        records.push_back(unit);
    }
    for (size_t i = 0; i < azimuths.size(); ++i) {
        ASSERT_EQ(records[i], sg::MakeAzimuthSeiRbsp(azimuths[i])) << "record " << i;
        uint32_t got = 0;
        uint32_t want = 0;
        std::memcpy(&want, &azimuths[i], 4);
        for (int b = 0; b < 4; ++b) got |= uint32_t{records[i][22 + b]} << (8 * b);
        EXPECT_EQ(got, want) << "record " << i;
    }
}

TEST_F(DecoderFfTest, ChunkBoundariesDoNotChangeTheOutput) {
    // Two slices per picture, so the parser also has to keep slices of one picture together.
    sg::GeneratorOptions options;
    options.side = 64;
    options.gop = 3;
    options.slices = 2;
    const Stream stream = Generate(options, {2.0f, 0.5f, 0.0f, 1.25f, 2.0f, 0.75f, 1.0f});

    const Output reference = lib_.DecodeAll(stream, 0);
    ASSERT_EQ(reference.pictures.size(), stream.accessUnits.size());
    ASSERT_EQ(reference.seiUnits.size(), stream.accessUnits.size());
    for (const size_t chunk : {size_t{1}, size_t{7}, stream.Joined().size()}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        lib_.shutdown();
        ASSERT_TRUE(lib_.init(0));
        const Output out = lib_.DecodeAll(stream, chunk);
        EXPECT_TRUE(out == reference);
    }
}

TEST_F(DecoderFfTest, GarbageAndTruncatedStreamsAreSurvived) {
    sg::GeneratorOptions options;
    options.side = 64;
    options.gop = 4;
    const Stream stream = Generate(options, Ramp(8));

    // Random bytes salted with start codes of every NAL unit type, then a good stream: the
    // good stream must still decode from its first IDR picture on.
    std::mt19937 random(12345);
    Bytes garbage(32 * 1024);
    for (uint8_t& byte : garbage) byte = static_cast<uint8_t>(random());
    for (size_t at = 0; at + 4 < garbage.size(); at += 97) {
        garbage[at] = 0;
        garbage[at + 1] = 0;
        garbage[at + 2] = 1;
        garbage[at + 3] = static_cast<uint8_t>(random() & 0x7F);
    }
    Output out;
    lib_.Feed(garbage, 61, out);
    for (const Bytes& picture : out.pictures) EXPECT_EQ(picture.size() % 4, 0u);
    lib_.shutdown();
    ASSERT_TRUE(lib_.init(0));
    out = Output{};
    lib_.Feed(garbage, 0, out);
    const size_t before = out.pictures.size();
    lib_.Feed(stream.Joined(), 0, out);
    lib_.Feed(kAccessUnitDelimiter, 0, out);
    ASSERT_EQ(out.pictures.size() - before, stream.accessUnits.size());
    for (size_t i = before; i < out.pictures.size(); ++i) ExpectTestPicture(out.pictures[i], 64);

}

TEST(DecoderFfText, InfoAndLastErrorFollowTheTwoCallRule) {
    DecoderLibrary lib;
    ASSERT_TRUE(lib.Complete());
    ASSERT_TRUE(lib.init(0));
    struct Getter {
        const char* name;
        std::function<bool(char*, int*)> call;
    };
    const Getter getters[] = {
        {"info", [&](char* b, int* s) { return lib.getInfo(b, s, 0); }},
        {"last error", [&](char* b, int* s) { return lib.getLastError(b, s); }},
    };
    for (const Getter& getter : getters) {
        SCOPED_TRACE(getter.name);
        int size = 0;
        ASSERT_TRUE(getter.call(nullptr, &size));
        ASSERT_GE(size, 1);

        std::vector<char> buffer(static_cast<size_t>(size), '\0');
        int given = size;
        ASSERT_TRUE(getter.call(buffer.data(), &given));
        EXPECT_EQ(std::strlen(buffer.data()) + 1, static_cast<size_t>(size));

        if (size > 1) {
            std::vector<char> small(static_cast<size_t>(size - 1), 'x');
            int smallSize = size - 1;
            EXPECT_FALSE(getter.call(small.data(), &smallSize));
            EXPECT_EQ(std::string(small.begin(), small.end()), std::string(small.size(), 'x'));
        }
        EXPECT_FALSE(getter.call(nullptr, nullptr));
    }
    char info[512] = {};
    int size = sizeof info;
    ASSERT_TRUE(lib.getInfo(info, &size, 0));
    EXPECT_NE(std::string(info).find("libavcodec"), std::string::npos) << info;
    EXPECT_NE(std::string(info).find("libswscale"), std::string::npos) << info;
    lib.shutdown();
}

}  // namespace
