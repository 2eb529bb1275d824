// Test pictures the display tests share on both targets: frames made from a pixel function,
// image files read back with stb_image, and what a zoomed picture must show.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kesto::test {

// A square frame of side x side pixels, each the 32-bit value pixel(row, column) stored as the
// decoder stores it (bytes blue, green, red, fourth). Exactly side * side * 4 bytes, so that a
// read beyond it is caught under ASan.
std::vector<uint8_t> MakeFrame(unsigned side,
                               const std::function<uint32_t(unsigned, unsigned)>& pixel);

// A frame pixel that tells where it came from: red is its row, green its column.
inline uint32_t Coordinates(unsigned row, unsigned column) {
    return (row << 16) | (column << 8);
}

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    const uint8_t* At(int row, int column) const { return &rgba[(row * width + column) * 4]; }
};

// A fresh, empty folder for the running test's image files, named after the test in the
// temporary directory and removed with everything in it when the object goes.
class ImageFolder {
  public:
    ImageFolder();
    ~ImageFolder();
    ImageFolder(const ImageFolder&) = delete;
    ImageFolder& operator=(const ImageFolder&) = delete;
    // The path of `name` inside the folder.
    std::string Path(const std::string& name) const;

  private:
    std::filesystem::path folder_;
};

// The PNG or BMP file as 4-component pixels; a test failure and an empty image when it cannot
// be read.
Image ReadImageFile(const std::string& path);

// `pixels`: the target * target surface (X8R8G8B8) drawn at azimuth 0 and `zoom` from a frame
// of 256 * 256 Coordinates pixels. The visible part,
// 1 / (sqrt(2) zoom) of the frame, spans the target exactly: frame rows run along the middle
// target row, frame columns down the middle column. Direct3D 9 samples pixel c at
// x = 2c / width - 1 (pixel centres on integer screen coordinates), half a pixel left of the
// geometric centre.
void ExpectZoomedCentre(const std::vector<uint32_t>& pixels, unsigned target, double zoom);

}  // namespace kesto::test
