// What every display test shares: a fresh software Direct3D and recording callbacks per test,
// frames made in code, frames handed over the way the decoder sink hands them, and the
// render target read back through the Direct3D API.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "decoder/decoder_sink.h"
#include "pictures.h"
#include "platform/d3d9_api.h"

namespace kesto::test {

// X8R8G8B8 colour values without the fourth byte.
constexpr uint32_t kRed = 0xFF0000u;
constexpr uint32_t kBlack = 0x000000u;
inline uint32_t Rgb(uint32_t pixel) {
    return pixel & 0xFFFFFFu;
}

// A surface's pixels, row by row, read back with GetRenderTargetData into system memory.
std::vector<uint32_t> ReadBack(IDirect3DSurface9* surface);

class DisplayTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // Ends the display and checks that no Direct3D object or window is left.
    void TearDown() override;

    // GetBackBufferNoRef, expected to succeed with a surface.
    IDirect3DSurface9* Surface();
    // The frame as the sink delivers it: the frame-size update, then DeliverFrame.
    void Deliver(const std::vector<uint8_t>& frame, double azimuth);
    // Render, then the active surface read back.
    std::vector<uint32_t> RenderAndRead();
    // The decoder sink of this test, on the test decoder (made on first use).
    DecoderSink& Sink();

  private:
    std::unique_ptr<DecoderSink> sink;
};

}  // namespace kesto::test
