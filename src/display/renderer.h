// CRenderer: what the display state asks of a renderer. One renderer per display adapter;
// the active one receives frames and snapshot requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kesto {

class CRenderer {
  public:
    CRenderer() = default;
    CRenderer(const CRenderer&) = delete;
    CRenderer& operator=(const CRenderer&) = delete;
    virtual ~CRenderer() = default;

    virtual int32_t Render() = 0;
    virtual int32_t ResizeTexture(unsigned width, unsigned height) = 0;
    virtual void SaveSnapshot(std::string path) = 0;
    // Copies a frame of side x side pixels (4 bytes each, rows packed) into the texture. The
    // side travels with the pixels so that an upload never reads beyond the frame, whatever
    // size the texture has at that moment.
    virtual void UploadFrame(const uint8_t* pixels, unsigned side, double azimuth) = 0;

    // Display values written by the display state under its lock and read by the drawing
    // code; atomic so that drawing needs no lock of its own.
    std::atomic<double> rotationOffset{0.0};
    std::atomic<double> zoomFactor{1.0};
};

}  // namespace kesto
