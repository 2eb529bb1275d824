#include "streamgen.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>

#include "access_unit.h"
#include "record/recording_format.h"

namespace kesto::streamgen {
namespace {

constexpr uint8_t kNalTypeSei = 6;
constexpr uint8_t kNalTypeSps = 7;
constexpr uint8_t kNalTypePps = 8;
constexpr uint8_t kNalTypeAud = 9;
constexpr uint8_t kSeiPayloadUserDataUnregistered = 5;

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// 3x5 blocky digits, one row per entry, bit 2 the leftmost column.
constexpr uint8_t kDigitFont[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 2, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

void FillRect(uint8_t* rgb, int side, int x0, int y0, int width, int height, Rgb colour) {
    const int x1 = std::min(side, x0 + width);
    const int y1 = std::min(side, y0 + height);
    for (int y = std::max(0, y0); y < y1; ++y) {
        uint8_t* pixel = rgb + (static_cast<size_t>(y) * side + std::max(0, x0)) * 3;
        for (int x = std::max(0, x0); x < x1; ++x, pixel += 3) {
            pixel[0] = colour.r;
            pixel[1] = colour.g;
            pixel[2] = colour.b;
        }
    }
}

struct NalSpan {
    size_t begin;  // first byte of the start code (the leading zero of a four-byte one)
    size_t end;
    uint8_t type;
};

std::vector<NalSpan> SplitNalUnits(const uint8_t* data, size_t size) {
    std::vector<NalSpan> units;
    for (size_t i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
        const size_t begin = (i > 0 && data[i - 1] == 0) ? i - 1 : i;
        if (!units.empty()) units.back().end = begin;
        units.push_back({begin, size, static_cast<uint8_t>(data[i + 3] & 0x1F)});
        i += 2;
    }
    return units;
}

}  // namespace

std::vector<uint8_t> AddEmulationPrevention(const std::vector<uint8_t>& rbsp) {
    std::vector<uint8_t> out;
    out.reserve(rbsp.size() + rbsp.size() / 2);
    int zeros = 0;
    for (const uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return out;
}

std::vector<uint8_t> MakeAzimuthSeiRbsp(float azimuth) {
    std::vector<uint8_t> rbsp;
    rbsp.reserve(2 + kAzimuthSeiPayloadSize + 1);
    rbsp.push_back(kSeiPayloadUserDataUnregistered);
    rbsp.push_back(kAzimuthSeiPayloadSize);
    rbsp.insert(rbsp.end(), kAzimuthSeiUuid.begin(), kAzimuthSeiUuid.end());
    AppendLe32(rbsp, kAzimuthRecordWord);
    static_assert(sizeof(float) == sizeof(uint32_t), "the record holds an IEEE float32");
    uint32_t bits = 0;
    std::memcpy(&bits, &azimuth, sizeof bits);
    AppendLe32(rbsp, bits);
    rbsp.push_back(0x80);  // rbsp_stop_one_bit and alignment
    return rbsp;
}

std::vector<uint8_t> MakeAzimuthSeiNal(float azimuth) {
    std::vector<uint8_t> nal = {0, 0, 0, 1, kNalTypeSei};
    const std::vector<uint8_t> escaped = AddEmulationPrevention(MakeAzimuthSeiRbsp(azimuth));
    nal.insert(nal.end(), escaped.begin(), escaped.end());
    return nal;
}

void ValidateOptions(const GeneratorOptions& options) {
    if (options.side < 16 || options.side > 4096 || options.side % 2 != 0) {
        throw Error("side must be an even number from 16 to 4096, got " +
                    std::to_string(options.side));
    }
    if (options.fps < 1 || options.fps > 1000) {
        throw Error("fps must be from 1 to 1000, got " + std::to_string(options.fps));
    }
    if (options.gop < 1 || options.gop > 100000) {
        throw Error("gop must be from 1 to 100000, got " + std::to_string(options.gop));
    }
    if (options.crf < 0 || options.crf > 51) {
        throw Error("crf must be from 0 to 51, got " + std::to_string(options.crf));
    }
    if (options.bitrate < 0) throw Error("bitrate must not be negative");
    if (options.slices < 1 || options.slices > options.side / 16) {
        throw Error("slices must be from 1 to side/16 (one per row of macroblocks), got " +
                    std::to_string(options.slices));
    }
}

void RenderTestPicture(int side, int64_t frameIndex, uint8_t* rgb) {
    const int half = side / 2;
    FillRect(rgb, side, 0, 0, half, half, kTopLeft);
    FillRect(rgb, side, half, 0, side - half, half, kTopRight);
    FillRect(rgb, side, 0, half, half, side - half, kBottomLeft);
    FillRect(rgb, side, half, half, side - half, side - half, kBottomRight);
    constexpr Rgb kInk{0, 0, 0};

    // The moving box stays on the horizontal centre line, a quarter of the side away from the
    // quadrant centres.
    const int box = std::max(2, side / 16);
    const int64_t travel = side - box + 1;
    const int boxX = static_cast<int>((frameIndex * std::max(1, side / 32)) % travel);
    FillRect(rgb, side, boxX, half - box / 2, box, box, kInk);

    // The frame number occupies rows scale..6*scale-1, above the clean squares that start at
    // side/4 - side/8 = side/8 >= 8*scale.
    const int scale = side / 64;
    if (scale == 0 || frameIndex < 0) return;
    const std::string digits = std::to_string(frameIndex);
    int x = scale;
    for (const char digit : digits) {
        const uint8_t* glyph = kDigitFont[digit - '0'];
        for (int row = 0; row < 5; ++row) {
            for (int column = 0; column < 3; ++column) {
                if ((glyph[row] >> (2 - column)) & 1) {
                    FillRect(rgb, side, x + column * scale, scale + row * scale, scale, scale,
                             kInk);
                }
            }
        }
        x += 4 * scale;
    }
}

std::vector<uint8_t> AssembleAccessUnit(const uint8_t* data, size_t size,
                                        const GeneratorOptions& options, float azimuth) {
    const std::vector<NalSpan> units = SplitNalUnits(data, size);
    std::vector<uint8_t> out;
    out.reserve(size + 40);
    size_t next = 0;
    for (; next < units.size(); ++next) {
        const uint8_t type = units[next].type;
        if (type != kNalTypeSps && type != kNalTypePps && type != kNalTypeAud) break;
        out.insert(out.end(), data + units[next].begin, data + units[next].end);
    }
    if (options.azimuthRecord) {
        const std::vector<uint8_t> sei = MakeAzimuthSeiNal(azimuth);
        out.insert(out.end(), sei.begin(), sei.end());
    }
    for (; next < units.size(); ++next) {
        if (units[next].type == kNalTypeSei && !options.keepEncoderSei) continue;
        out.insert(out.end(), data + units[next].begin, data + units[next].end);
    }
    return out;
}

std::string WriteRecording(const std::string& rawPath,
                           const std::vector<std::vector<uint8_t>>& packets, bool withSidecar) {
    std::ofstream raw(rawPath, std::ios::binary | std::ios::trunc);
    if (!raw) throw Error("cannot create " + rawPath);
    for (const auto& packet : packets) {
        raw.write(reinterpret_cast<const char*>(packet.data()),
                  static_cast<std::streamsize>(packet.size()));
    }
    raw.close();
    if (!raw) throw Error("writing " + rawPath + " failed");
    if (!withSidecar) return {};

    const std::string sidecarPath = SidecarFileName(rawPath);
    std::ofstream sidecar(sidecarPath, std::ios::binary | std::ios::trunc);
    if (!sidecar) throw Error("cannot create " + sidecarPath);
    for (const auto& packet : packets) {
        if (packet.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
            throw Error("a packet is too large for a sidecar record");
        }
        unsigned char record[4];
        EncodeSidecarRecord(static_cast<uint32_t>(packet.size()), record);
        sidecar.write(reinterpret_cast<const char*>(record), sizeof record);
    }
    sidecar.close();
    if (!sidecar) throw Error("writing " + sidecarPath + " failed");
    return sidecarPath;
}

}  // namespace kesto::streamgen
