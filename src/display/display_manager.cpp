#include "display/display_manager.h"

#include <cfloat>
#include <cmath>

#include "platform/library_unload.h"

namespace kesto {

namespace {

// The zoom factor the host may set: at least 1.0 (also for NaN), at most 10.0.
double ClampZoomFactor(double zoom) {
    double clamped = zoom > 1.0 ? zoom : 1.0;
    if (!(clamped < 10.0)) clamped = 10.0;
    return clamped;
}

// A display value is replaced only when it moves by more than DBL_EPSILON (so never by NaN).
bool DisplayValueChanged(double newValue, double storedValue) {
    return std::fabs(newValue - storedValue) > DBL_EPSILON;
}

}  // namespace

CDisplayManager::CDisplayManager(RendererFactory factory) : makeRenderer(std::move(factory)) {}

void CDisplayManager::SetRotationOffset(double offset) {
    std::lock_guard<std::mutex> guard(lock);
    if (!DisplayValueChanged(offset, rotationOffset)) return;
    rotationOffset = offset;
    pendingChanges |= RotationOffsetChanged;
}

void CDisplayManager::SetZoomFactor(double zoom) {
    const double clamped = ClampZoomFactor(zoom);
    std::lock_guard<std::mutex> guard(lock);
    if (!DisplayValueChanged(clamped, zoomFactor)) return;
    zoomFactor = clamped;
    pendingChanges |= ZoomFactorChanged;
}

void CDisplayManager::RequestSnapshot(platform::HostPath path) {
    std::lock_guard<std::mutex> guard(lock);
    snapshotPath = std::move(path);
    pendingChanges |= SnapshotRequested;
}

void CDisplayManager::DeliverFrame(const uint8_t* pixels, unsigned side, double azimuth) {
    std::lock_guard<std::mutex> guard(lock);
    if (side != frameWidth || side != frameHeight) {
        frameWidth = side;
        frameHeight = side;
        pendingChanges |= FrameSizeChanged;
    }
    if (pendingChanges != 0) {
        // Without renderers the changes wait. The array may also be missing while
        // adapterCount is set: the window class could not be registered after the Direct3D
        // object was made.
        if (adapterCount == 0 || !adapterRenderers) return;
        bool missingRenderer = false;
        for (unsigned i = 0; i < adapterCount; ++i) {
            CRenderer* renderer = adapterRenderers[i].get();
            if (renderer == nullptr) {
                missingRenderer = true;
                continue;
            }
            if (pendingChanges & FrameSizeChanged) renderer->ResizeTexture(frameWidth, frameHeight);
            if (pendingChanges & RotationOffsetChanged) renderer->rotationOffset = rotationOffset;
            if (pendingChanges & ZoomFactorChanged) renderer->zoomFactor = zoomFactor;
            if ((pendingChanges & SnapshotRequested) && renderer == activeRenderer) {
                renderer->SaveSnapshot(snapshotPath);
            }
        }
        // The changes must reach every renderer; with one missing they wait for the next frame.
        if (missingRenderer) return;
        pendingChanges = 0;
    }
    if (activeRenderer != nullptr) activeRenderer->UploadFrame(pixels, side, azimuth);
}

namespace {
std::mutex singletonLock;
platform::LeftAtProcessExit<std::shared_ptr<CDisplayManager>> singleton;
}  // namespace

std::shared_ptr<CDisplayManager> GetDisplayManager() {
    std::lock_guard<std::mutex> guard(singletonLock);
    if (!singleton) singleton = std::make_shared<CDisplayManager>();
    return singleton;
}

void DestroyDisplayManager() {
    // The singleton's mutex is held throughout, so a host thread that asks for the manager
    // meanwhile gets a fresh one only once this one has let go of the window class.
    std::lock_guard<std::mutex> singletonGuard(singletonLock);
    if (!singleton) return;
    const std::shared_ptr<CDisplayManager> display = std::move(singleton);  // leaves it null
    display->ReleaseDisplay();
}

}  // namespace kesto
