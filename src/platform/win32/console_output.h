// Standard output and error on Windows: UTF-16 to a console, UTF-8 bytes to
// pipes and files.
#pragma once

namespace nl::win32 {

// Routes the command line's output (base/std_output.h) through the console
// where there is one. Call once at start-up.
void installConsoleOutput();

// The window is about to open: a console that only this process uses (the
// one Windows made for it when it was started from Explorer) is closed.
void releaseOwnConsole();

}  // namespace nl::win32
