// Test stream generator: square H.264 video (libx264, Annex B) carrying the instrument's
// azimuth record in front of every picture, and the recording file pair the recorder writes.
//
// The picture: four solid quadrants, top-left kTopLeft (red), top-right kTopRight (green),
// bottom-left kBottomLeft (blue), bottom-right kBottomRight (white). A small black box moves
// along the horizontal centre line and the frame number is drawn in black blocky digits along
// the top edge. Neither ever comes within side/8 of a quadrant's centre (QuadrantCentre), so a
// square of side/4 around each centre always shows the pure quadrant colour; the digits are
// left out when the picture is too small for them to fit above those squares.
//
// The azimuth record is one SEI NAL unit (four-byte start code, NAL header 0x06) holding one
// message of payload type 5 (user data unregistered), payload size 24:
//   16-byte identifier kAzimuthSeiUuid, uint32 little-endian 24, float32 little-endian azimuth
//   in radians; then the RBSP trailing-bits byte 0x80; emulation prevention applied.
// It follows any SPS/PPS units at the start of the access unit and precedes everything else,
// so an IDR access unit still begins with 00 00 00 01 + SPS and every other one with the record.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kesto::streamgen {

struct Rgb {
    uint8_t r, g, b;
};

inline constexpr Rgb kTopLeft{255, 0, 0};
inline constexpr Rgb kTopRight{0, 255, 0};
inline constexpr Rgb kBottomLeft{0, 0, 255};
inline constexpr Rgb kBottomRight{255, 255, 255};

// Pixel coordinate (column or row) of the centre of the left/top (`second` false) or the
// right/bottom (`second` true) half of a picture `side` pixels wide.
inline constexpr int QuadrantCentre(int side, bool second) {
    return second ? side * 3 / 4 : side / 4;
}

inline constexpr std::array<uint8_t, 16> kAzimuthSeiUuid = {
    0x68, 0xA2, 0xDC, 0x40, 0x28, 0xCA, 0x26, 0x41, 0x87, 0x11, 0x2C, 0xE4, 0x2C, 0x15, 0x0B, 0x58};
inline constexpr uint32_t kAzimuthRecordWord = 24;
inline constexpr uint8_t kAzimuthSeiPayloadSize = 24;

// The record's RBSP as a decoder hands it out: payload type, payload size, payload, 0x80.
std::vector<uint8_t> MakeAzimuthSeiRbsp(float azimuth);

// The complete NAL unit: 00 00 00 01, 0x06, then the RBSP with emulation prevention.
std::vector<uint8_t> MakeAzimuthSeiNal(float azimuth);

// Inserts 0x03 after every two zero bytes that precede a byte of 0..3.
std::vector<uint8_t> AddEmulationPrevention(const std::vector<uint8_t>& rbsp);

// Failures (no libx264 in libavcodec, bad options, file errors) throw this.
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct GeneratorOptions {
    int side = 256;               // even, 16..4096
    int fps = 30;                 // 1..1000; only the stream's timing information
    int gop = 30;                 // IDR interval in frames, >= 1
    int crf = 23;                 // constant quality 0..51, used when bitrate is 0
    int64_t bitrate = 0;          // average bits per second; 0 selects constant quality
    int slices = 1;               // slices (VCL NAL units) per picture
    bool azimuthRecord = true;    // false: no record in front of the pictures
    bool keepEncoderSei = false;  // keep libx264's own SEI units (its version banner)
};

// Throws Error when the options are out of range.
void ValidateOptions(const GeneratorOptions& options);

// Draws picture number `frameIndex` as packed RGB24 (side * side * 3 bytes, top row first).
void RenderTestPicture(int side, int64_t frameIndex, uint8_t* rgb);

class StreamGenerator {
  public:
    explicit StreamGenerator(const GeneratorOptions& options = {});
    ~StreamGenerator();
    StreamGenerator(const StreamGenerator&) = delete;
    StreamGenerator& operator=(const StreamGenerator&) = delete;

    // Encodes the next picture and returns its complete access unit (Annex B). Access unit 0,
    // gop, 2*gop, ... are IDR pictures with SPS and PPS in front.
    std::vector<uint8_t> NextFrame(float azimuth);

    int64_t FramesGenerated() const;
    const GeneratorOptions& Options() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Writes the recording pair: `rawPath` with the packets back to back and, when `withSidecar`,
// kesto::SidecarFileName(rawPath) with one 4-byte little-endian length per packet. Returns the
// sidecar's path (empty without one). Throws Error on any I/O failure.
std::string WriteRecording(const std::string& rawPath,
                           const std::vector<std::vector<uint8_t>>& packets,
                           bool withSidecar = true);

}  // namespace kesto::streamgen
