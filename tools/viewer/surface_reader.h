// Reads the library's render-target surface back to the CPU the Direct3D 9 way, as a host
// without D3DImage would: lock it when it is lockable, otherwise copy it into a system-memory
// surface of the same device first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct IDirect3DSurface9;

namespace kesto::viewer {

struct SurfaceImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB (X8R8G8B8 / A8R8G8B8), top row first
};

// False with `error` set when the surface cannot be read.
bool ReadSurface(IDirect3DSurface9* surface, SurfaceImage& image, std::string& error);

// Writes the image as an RGB PNG; false on failure.
bool WritePng(const std::string& path, const SurfaceImage& image);

}  // namespace kesto::viewer
