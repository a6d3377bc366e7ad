// The window and the PDF and PNG writers live in a module of their own,
// libnetloom-gui.so, which the program loads on first use: a headless command
// never loads GTK, Cairo or fontconfig. The module finds the core's functions
// in the program itself.
#pragma once

#include <string>

#include "render/drawing_export.h"

// The module's entry points, looked up by name.
extern "C" {
// Opens the window with the process's arguments; returns the exit status.
int netloom_gui_run_window(int argc, char** argv);
// The PDF and PNG writers (pdf or png is null when the module was built without them).
void netloom_gui_drawing_writers(nl::DrawingWriters* writers);
}

namespace nl {

// The module's file name, looked for beside the program and then in the
// library folder of an installed program.
inline constexpr const char* kGuiModuleName = "libnetloom-gui.so";

// Loads the module once; null with a message when it cannot be loaded.
void* loadGuiModule(std::string* error);

// Writers that load the module on first use and hand over to its own; a
// missing module is their failure message. `release` does nothing unless the
// module was loaded.
DrawingWriters guiModuleDrawingWriters();

// Starts the window through the module; 1 with a message when it cannot be loaded.
int runGuiModuleWindow(int argc, char** argv);

}  // namespace nl
