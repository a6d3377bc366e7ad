#include "platform/platform.h"

#include <cstdio>

#include "base/heap_reserve.h"
#if NETLOOM_HAVE_GTK
#include "platform/posix/gtk_window.h"
#endif
#if NETLOOM_HAVE_CAIRO
#include "platform/posix/cairo_export.h"
#endif

namespace nl {

void registerPlatformServices() {
    setHttpTransport(platformHttpRequest);
#ifndef _WIN32
    // Not measured on Windows yet, so its heap is left as the system sets it up.
    setHeapReserver(reserveLargePageHeap);
#endif
#if NETLOOM_HAVE_CAIRO
    // PDF and PNG; a build without Cairo (Windows for now) has neither.
    registerCairoDrawingWriters();
#endif
}

WindowStarter platformWindowStarter() {
#if NETLOOM_HAVE_GTK
    return runGtkWindow;
#else
    return [](int, char**) {
        std::fputs("Error: this build has no desktop window; the headless commands are listed by --help\n", stderr);
        return 1;
    };
#endif
}

}  // namespace nl
