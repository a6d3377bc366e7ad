// Built into libnetloom-gui.so only.
#include "platform/posix/gui_module.h"

#include <cstdio>

#include "platform/posix/cairo_export.h"
#include "platform/posix/gtk_window.h"

extern "C" {

int netloom_gui_run_window(int argc, char** argv) {
#if NETLOOM_HAVE_GTK
    return nl::runGtkWindow(argc, argv);
#else
    (void)argc, (void)argv;
    std::fputs("Error: this build has no desktop window; the headless commands are listed by --help\n", stderr);
    return 1;
#endif
}

void netloom_gui_drawing_writers(nl::DrawingWriters* writers) { *writers = nl::cairoDrawingWriters(); }
}
