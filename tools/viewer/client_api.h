// The client library as a host sees it: loaded at run time and bound export by export by
// name, with the types of the public header. Nothing else of the library is linked in.
#pragma once

#include <string>

#include "kesto/video_client.h"

namespace kesto::viewer {

struct ClientApi {
    decltype(&::SetCallbackFunc) SetCallbackFunc = nullptr;
    decltype(&::SetAzCallbackFunc) SetAzCallbackFunc = nullptr;
    decltype(&::StartServerStream) StartServerStream = nullptr;
    decltype(&::StopServerStream) StopServerStream = nullptr;
    decltype(&::DestroyClient) DestroyClient = nullptr;
    decltype(&::SetRotationOffset) SetRotationOffset = nullptr;
    decltype(&::SetCurrentZoomFactor) SetCurrentZoomFactor = nullptr;
    decltype(&::SaveVideoFrameRawToDisk) SaveVideoFrameRawToDisk = nullptr;
    decltype(&::SaveVideoSegmentRawToDisk) SaveVideoSegmentRawToDisk = nullptr;
    decltype(&::GetStreamStat) GetStreamStat = nullptr;
    decltype(&::SetSize) SetSize = nullptr;
    decltype(&::GetBackBufferNoRef) GetBackBufferNoRef = nullptr;
    decltype(&::Render) Render = nullptr;
    decltype(&::DestroyD3D) DestroyD3D = nullptr;
};

class ClientLibrary {
  public:
    ClientLibrary() = default;
    ~ClientLibrary();
    ClientLibrary(const ClientLibrary&) = delete;
    ClientLibrary& operator=(const ClientLibrary&) = delete;

    // Loads the library and binds every export; false with `error` set when the file cannot
    // be loaded or an export is missing.
    bool Load(const std::string& path, std::string& error);
    const ClientApi& Api() const { return api_; }

  private:
    void* handle_ = nullptr;
    ClientApi api_;
};

// The library's default place: beside the viewer's own folder, as installed and as built
// (bin/kesto-viewer, <libdir>/libKestoVideoClient.so).
std::string DefaultLibraryPath();

}  // namespace kesto::viewer
