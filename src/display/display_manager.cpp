#include "display/display_manager.h"

#include <cfloat>
#include <cmath>

namespace kesto {

double ClampZoomFactor(double zoom) {
    double clamped = zoom > 1.0 ? zoom : 1.0;
    if (!(clamped < 10.0)) clamped = 10.0;
    return clamped;
}

bool DisplayValueChanged(double newValue, double storedValue) {
    return std::fabs(newValue - storedValue) > DBL_EPSILON;
}

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

void CDisplayManager::RequestSnapshot(std::string path) {
    std::lock_guard<std::mutex> guard(lock);
    snapshotPath = std::move(path);
    pendingChanges |= SnapshotRequested;
}

void CDisplayManager::DeliverFrame(const uint8_t* pixels, unsigned side, double azimuth) {
    std::lock_guard<std::mutex> guard(lock);
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
            if (pendingChanges & RotationOffsetChanged)
                renderer->rotationOffset.exchange(rotationOffset);
            if (pendingChanges & ZoomFactorChanged) renderer->zoomFactor.exchange(zoomFactor);
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
std::shared_ptr<CDisplayManager> singleton;
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
    std::lock_guard<std::mutex> guard(display->lock);
    display->ReleaseEverything();
    display->DestroyHiddenWindow();
}

}  // namespace kesto
