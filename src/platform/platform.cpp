#include "platform/platform.h"

#include <cstdio>

#include "base/heap_reserve.h"
#if NETLOOM_GUI_MODULE
#include "platform/posix/gui_module.h"
#endif
#ifdef _WIN32
#include "platform/win32/gdiplus_painter.h"
#include "platform/win32/win32_window.h"
#endif

namespace nl {

void registerPlatformServices() {
    setHttpTransport(platformHttpRequest);
#ifndef _WIN32
    // Not measured on Windows yet, so its heap is left as the system sets it up.
    setHeapReserver(reserveLargePageHeap);
#endif
#if NETLOOM_GUI_MODULE
    // PDF and PNG come with the window's module.
    setDrawingWriters(guiModuleDrawingWriters());
#elif defined(_WIN32)
    // PNG through GDI+'s encoder; Windows has no PDF writer.
    setDrawingWriters(gdiplusDrawingWriters());
#endif
}

WindowStarter platformWindowStarter() {
#ifdef _WIN32
    return win32::runWindow;
#elif NETLOOM_GUI_MODULE
    return runGuiModuleWindow;
#else
    return [](int, char**) {
        std::fputs("Error: this build has no desktop window; the headless commands are listed by --help\n", stderr);
        return 1;
    };
#endif
}

}  // namespace nl
