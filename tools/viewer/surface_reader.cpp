#include "surface_reader.h"

#include <cstring>

#include "platform/d3d9_api.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

namespace kesto::viewer {
namespace {

std::string Code(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

void CopyLocked(const D3DLOCKED_RECT& locked, SurfaceImage& image) {
    const auto* bytes = static_cast<const uint8_t*>(locked.pBits);
    for (int row = 0; row < image.height; ++row) {
        std::memcpy(&image.pixels[static_cast<std::size_t>(row) * image.width],
                    bytes + static_cast<std::ptrdiff_t>(row) * locked.Pitch,
                    static_cast<std::size_t>(image.width) * 4);
    }
}

}  // namespace

bool ReadSurface(IDirect3DSurface9* surface, SurfaceImage& image, std::string& error) {
    D3DSURFACE_DESC desc{};
    HRESULT hr = surface->GetDesc(&desc);
    if (FAILED(hr)) {
        error = "GetDesc failed with " + Code(hr);
        return false;
    }
    if (desc.Format != D3DFMT_X8R8G8B8 && desc.Format != D3DFMT_A8R8G8B8) {
        error = "unexpected surface format " + std::to_string(static_cast<int>(desc.Format));
        return false;
    }
    image.width = static_cast<int>(desc.Width);
    image.height = static_cast<int>(desc.Height);
    image.pixels.assign(static_cast<std::size_t>(image.width) * image.height, 0);

    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        CopyLocked(locked, image);
        surface->UnlockRect();
        return true;
    }

    // Not lockable (an extended device's render target): copy it through system memory.
    IDirect3DDevice9* device = nullptr;
    hr = surface->GetDevice(&device);
    if (FAILED(hr)) {
        error = "GetDevice failed with " + Code(hr);
        return false;
    }
    IDirect3DSurface9* copy = nullptr;
    hr = device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format,
                                             D3DPOOL_SYSTEMMEM, &copy, nullptr);
    if (SUCCEEDED(hr)) hr = device->GetRenderTargetData(surface, copy);
    if (SUCCEEDED(hr)) hr = copy->LockRect(&locked, nullptr, D3DLOCK_READONLY);
    if (SUCCEEDED(hr)) {
        CopyLocked(locked, image);
        copy->UnlockRect();
    } else {
        error = "reading the surface through system memory failed with " + Code(hr);
    }
    if (copy != nullptr) copy->Release();
    device->Release();
    return SUCCEEDED(hr);
}

bool WritePng(const std::string& path, const SurfaceImage& image) {
    std::vector<uint8_t> rgb(static_cast<std::size_t>(image.width) * image.height * 3);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        rgb[i * 3 + 0] = static_cast<uint8_t>(image.pixels[i] >> 16);
        rgb[i * 3 + 1] = static_cast<uint8_t>(image.pixels[i] >> 8);
        rgb[i * 3 + 2] = static_cast<uint8_t>(image.pixels[i]);
    }
    return stbi_write_png(path.c_str(), image.width, image.height, 3, rgb.data(),
                          image.width * 3) != 0;
}

}  // namespace kesto::viewer
