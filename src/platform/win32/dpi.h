// The monitor's dots per inch for a window.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace nl::win32 {

// The DPI of the monitor `hwnd` is on (96 is 100 %).
int windowDpi(HWND hwnd);

}  // namespace nl::win32
