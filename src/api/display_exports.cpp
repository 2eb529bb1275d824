// The display exports: surface settings, adapter choice, the render-target surface, drawing
// and the end of the display. Each hands its work to the display manager and turns any
// exception (a mutex that cannot be locked, memory running out) into an Error message and
// E_FAIL, so nothing crosses into the host.
#include "api/export_guard.h"
#include "display/display_manager.h"
#include "kesto/video_client.h"
#include "platform/d3d9_api.h"

using namespace kesto;

extern "C" {

KESTO_API int32_t KESTO_CALL SetSize(uint32_t width, uint32_t height) {
    return GuardExport<int32_t>(MessageCode::Error, "Error setting surface size: ", E_FAIL, [&] {
        GetDisplayManager()->SetSize(width, height);
        return S_OK;
    });
}

KESTO_API int32_t KESTO_CALL SetAlpha(int32_t alpha) {
    return GuardExport<int32_t>(MessageCode::Error, "Error setting alpha: ", E_FAIL, [&] {
        GetDisplayManager()->SetAlpha(alpha != 0);
        return S_OK;
    });
}

KESTO_API int32_t KESTO_CALL SetNumDesiredSamples(uint32_t samples) {
    return GuardExport<int32_t>(MessageCode::Error, "Error setting sample count: ", E_FAIL, [&] {
        GetDisplayManager()->SetNumDesiredSamples(samples);
        return S_OK;
    });
}

KESTO_API int32_t KESTO_CALL SetAdapter(KestoPoint point) {
    return GuardExport<int32_t>(MessageCode::Error, "Error setting adapter: ", E_FAIL, [&] {
        POINT screenPoint;
        screenPoint.x = point.x;
        screenPoint.y = point.y;
        GetDisplayManager()->SetAdapter(screenPoint);
        return S_OK;
    });
}

KESTO_API int32_t KESTO_CALL GetBackBufferNoRef(IDirect3DSurface9** surface) {
    if (surface == nullptr) return E_INVALIDARG;
    *surface = nullptr;
    return GuardExport<int32_t>(MessageCode::Error, "Error getting back buffer: ", E_FAIL,
                                [&] { return GetDisplayManager()->GetBackBufferNoRef(surface); });
}

KESTO_API int32_t KESTO_CALL Render(void) {
    return GuardExport<int32_t>(MessageCode::Error, "Error rendering: ", E_FAIL,
                                [&] { return GetDisplayManager()->Render(); });
}

KESTO_API void KESTO_CALL DestroyD3D(void) {
    GuardExport(MessageCode::Error, "Error destroying display: ", [&] { DestroyDisplayManager(); });
}

}  // extern "C"
