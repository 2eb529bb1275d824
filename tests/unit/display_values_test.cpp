// The pass-through exports that write display state, checked against the state itself.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "display/display_manager.h"
#include "kesto/video_client.h"

namespace kesto {
namespace {

TEST(ZoomFactor, IsClampedToOneToTen) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(ClampZoomFactor(0.5), 1.0);
    EXPECT_EQ(ClampZoomFactor(25.0), 10.0);
    EXPECT_EQ(ClampZoomFactor(std::nan("")), 1.0);
    EXPECT_EQ(ClampZoomFactor(inf), 10.0);
    EXPECT_EQ(ClampZoomFactor(-inf), 1.0);
    EXPECT_EQ(ClampZoomFactor(2.5), 2.5);
    EXPECT_EQ(ClampZoomFactor(10.0), 10.0);
}

TEST(DisplayExports, SetBitsOnlyForRealChanges) {
    auto display = GetDisplayManager();
    SetCurrentZoomFactor(2.0);
    EXPECT_EQ(display->zoomFactor, 2.0);
    EXPECT_EQ(display->pendingChanges, static_cast<uint32_t>(ZoomFactorChanged));
    display->pendingChanges = 0;
    SetCurrentZoomFactor(2.0 + 1e-16);  // within DBL_EPSILON
    SetCurrentZoomFactor(2.0);
    EXPECT_EQ(display->pendingChanges, 0u);
    SetCurrentZoomFactor(50.0);
    EXPECT_EQ(display->zoomFactor, 10.0);

    display->pendingChanges = 0;
    SetRotationOffset(std::nan(""));  // never stored
    SetRotationOffset(1e-17);
    EXPECT_EQ(display->rotationOffset, 0.0);
    EXPECT_EQ(display->pendingChanges, 0u);
    SetRotationOffset(-0.5);
    EXPECT_EQ(display->rotationOffset, -0.5);
    EXPECT_EQ(display->pendingChanges, static_cast<uint32_t>(RotationOffsetChanged));
}

}  // namespace
}  // namespace kesto
