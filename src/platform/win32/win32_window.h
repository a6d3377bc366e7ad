// The desktop window on Windows.
#pragma once

namespace nl::win32 {

// Runs the window over the process's arguments (UTF-8, program name first)
// until it is closed; returns the exit status.
int runWindow(int argc, char** argv);

}  // namespace nl::win32
