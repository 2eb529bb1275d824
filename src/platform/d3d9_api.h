// Direct3D 9 for the display code: the real headers on Windows, the software implementation
// of the same subset elsewhere. Display sources include only this header, so they are one
// source for both targets.
#pragma once

#if defined(_WIN32)
// Keep <windows.h> from defining min/max macros that break std::min and std::max.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <d3d9.h>
#include <windows.h>
#else
#include "platform/soft_d3d9/d3d9.h"
#endif
