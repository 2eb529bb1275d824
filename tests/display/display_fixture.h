// What every display test shares on both targets: recording callbacks, frames made in code and
// handed to the display, and the render target read back through the Direct3D API. On Linux
// the display draws on the software Direct3D (reset and checked for leaks around every test),
// on Windows on the system's Direct3D 9. Frames are handed over the way the decoder sink hands
// them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "pictures.h"
#include "platform/d3d9_api.h"

#include "decoder/decoder_sink.h"

#if defined(_WIN32)
#include "surface_usage_win32.h"
#endif

namespace kesto::test {

// X8R8G8B8 colour values without the fourth byte.
constexpr uint32_t kRed = 0xFF0000u;
constexpr uint32_t kBlack = 0x000000u;
inline uint32_t Rgb(uint32_t pixel) {
    return pixel & 0xFFFFFFu;
}

// Whether every pixel's colour (the fourth byte left out) of a square target is
// expected(row, column); on failure, how many differ and the first few.
::testing::AssertionResult Shows(const std::vector<uint32_t>& pixels,
                                 const std::function<uint32_t(unsigned, unsigned)>& expected);

// A surface's pixels, row by row, read back with GetRenderTargetData into system memory.
std::vector<uint32_t> ReadBack(IDirect3DSurface9* surface);
D3DSURFACE_DESC SurfaceDesc(IDirect3DSurface9* surface);

class DisplayTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // Ends the display (on Linux: and checks that no Direct3D object or window is left).
    void TearDown() override;

    // GetBackBufferNoRef, expected to succeed with a surface.
    IDirect3DSurface9* Surface();
    // The frame on display from now on, drawn at `azimuth`.
    void Deliver(const std::vector<uint8_t>& frame, float azimuth);
    // Render, then the active surface read back.
    std::vector<uint32_t> RenderAndRead();

    // The decoder sink of this test, on the test decoder (made on first use).
    DecoderSink& Sink();
    std::unique_ptr<DecoderSink> sink;
#if defined(_WIN32)
    bool answering = false;  // AnswerSurfaceUsageAsWindows is on for this test
#endif
};

}  // namespace kesto::test
