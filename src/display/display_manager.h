// CDisplayManager: the process-wide display state where the host's display settings, the
// values that reach the renderers with the next frame, and the renderers themselves meet.
//
// Threads: host threads (display and pass-through exports) and the stream worker
// (frame-size updates and DeliverFrame). `lock` guards every field and is held across whole
// operations, DeliverFrame included; the host's message callback runs inside DeliverFrame
// with it held, so a callback must not call display exports synchronously.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "display/renderer.h"

namespace kesto {

enum PendingChange : uint32_t {
    FrameSizeChanged = 0x01,
    RotationOffsetChanged = 0x04,
    ZoomFactorChanged = 0x08,
    SnapshotRequested = 0x10,
};

// The zoom factor the host may set: at least 1.0 (also for NaN), at most 10.0.
double ClampZoomFactor(double zoom);
// A display value is replaced only when it moves by more than DBL_EPSILON (so never by NaN).
bool DisplayValueChanged(double newValue, double storedValue);

class CDisplayManager {
  public:
    // Host-side writers of the values the renderers take with the next frame: each locks,
    // stores, sets its pending bit. Any thread.
    void SetRotationOffset(double offset);
    void SetZoomFactor(double zoom);  // clamps first
    // Replaces the snapshot path; the bit is set on every request.
    void RequestSnapshot(std::string path);

    // Applies pending changes to the renderers and hands the frame to the active renderer.
    // Without renderers the frame is dropped and the pending bits stay. Worker thread.
    void DeliverFrame(const uint8_t* pixels, unsigned side, double azimuth);

    // -- protected by lock: everything below.
    unsigned adapterCount = 0;
    std::unique_ptr<std::unique_ptr<CRenderer>[]> adapterRenderers;  // adapterCount entries
    CRenderer* activeRenderer = nullptr;                             // points into the above
    unsigned surfaceWidth = 1024;
    unsigned surfaceHeight = 1024;
    unsigned frameWidth = 512;
    unsigned frameHeight = 512;
    unsigned desiredSamples = 0;
    double rotationOffset = 0.0;
    double zoomFactor = 0.0;
    bool alphaEnabled = false;
    bool surfacesStale = true;
    std::string snapshotPath;
    uint32_t pendingChanges = 0;

    std::mutex lock;
};

// The singleton, created with its initial values on first use. Shared ownership keeps an
// instance alive for a caller that is still using it when the display is released.
std::shared_ptr<CDisplayManager> GetDisplayManager();

}  // namespace kesto
