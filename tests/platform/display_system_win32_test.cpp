// The Win32 side of the display (display_system_win32.cpp): the hidden focus window and its
// class, the monitor under a point. (The Direct3D runtime it loads: every display test.)
#include <gtest/gtest.h>

#include <cwchar>

#include "platform/display_system.h"

namespace kesto::platform {
namespace {

// Wine's user32 needs an X display (DISPLAY) to make windows; the test script runs the tests
// under Xvfb. Without one, window creation fails and these cases are skipped.
bool WindowsAvailable() {
    static const bool available = [] {
        if (!RegisterFocusWindowClass()) return false;
        const HWND probe = CreateFocusWindow();
        DestroyFocusWindow(probe);
        return probe != nullptr;
    }();
    return available;
}

TEST(FocusWindow, IsAHiddenWindowOfItsOwnClassThatCanBeMadeAgain) {
    if (!WindowsAvailable()) GTEST_SKIP() << "no windows can be made here (no display)";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(RegisterFocusWindowClass());
        EXPECT_FALSE(RegisterFocusWindowClass());  // the class exists until the window goes
        const HWND window = CreateFocusWindow();
        ASSERT_NE(window, nullptr);
        wchar_t className[64] = {};
        GetClassNameW(window, className, 64);
        EXPECT_STREQ(className, L"D3DImageSample");
        EXPECT_FALSE(IsWindowVisible(window));
        const LONG style = GetWindowLongW(window, GWL_STYLE);
        EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
        EXPECT_EQ(GetClassLongW(window, GCL_STYLE), static_cast<DWORD>(CS_HREDRAW | CS_VREDRAW));
        DestroyFocusWindow(window);
        EXPECT_FALSE(IsWindow(window));
    }
}

TEST(MonitorFromScreenPoint, NullWhereNoMonitorIs) {
    if (!WindowsAvailable()) GTEST_SKIP() << "no display here";
    EXPECT_EQ(MonitorFromScreenPoint(POINT{-1000000, -1000000}), nullptr);
    EXPECT_NE(MonitorFromScreenPoint(POINT{0, 0}), nullptr);
}

}  // namespace
}  // namespace kesto::platform
