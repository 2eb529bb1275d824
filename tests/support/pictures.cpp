#include "pictures.h"

#include <gtest/gtest.h>

#include <cmath>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

namespace kesto::test {

std::vector<uint8_t> MakeFrame(unsigned side,
                               const std::function<uint32_t(unsigned, unsigned)>& pixel) {
    std::vector<uint8_t> frame(static_cast<std::size_t>(side) * side * 4);
    for (unsigned row = 0; row < side; ++row) {
        for (unsigned column = 0; column < side; ++column) {
            const uint32_t value = pixel(row, column);
            uint8_t* out = &frame[(static_cast<std::size_t>(row) * side + column) * 4];
            for (int k = 0; k < 4; ++k) out[k] = static_cast<uint8_t>(value >> (8 * k));
        }
    }
    return frame;
}

ImageFolder::ImageFolder()
    : folder_(std::filesystem::temp_directory_path() /
              ("kesto_snapshot_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))) {
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
}

ImageFolder::~ImageFolder() {
    std::error_code ignored;  // a destructor must not throw
    std::filesystem::remove_all(folder_, ignored);
}

std::string ImageFolder::Path(const std::string& name) const {
    return (folder_ / name).string();
}

Image ReadImageFile(const std::string& path) {
    Image image;
    int components = 0;
    uint8_t* data = stbi_load(path.c_str(), &image.width, &image.height, &components, 4);
    if (data == nullptr) {
        ADD_FAILURE() << "cannot read " << path;
        image.width = image.height = 0;
        return image;
    }
    image.rgba.assign(data, data + image.width * image.height * 4);
    stbi_image_free(data);
    return image;
}

void ExpectZoomedCentre(const std::vector<uint32_t>& pixels, unsigned target, double zoom) {
    ASSERT_EQ(pixels.size(), static_cast<size_t>(target) * target);
    const double visible = 1.0 / (std::sqrt(2.0) * zoom);
    const unsigned middle = target / 2;
    for (unsigned c = 0; c < target; ++c) {
        const double across = 2.0 * c / target - 1.0;
        const double shown = 128.0 * (1.0 + across * visible);
        EXPECT_NEAR((pixels[middle * target + c] >> 16) & 0xFF, shown, 1.0) << zoom << " " << c;
        EXPECT_NEAR((pixels[c * target + middle] >> 8) & 0xFF, shown, 1.0) << zoom << " " << c;
    }
}

}  // namespace kesto::test
