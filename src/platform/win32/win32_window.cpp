#include "platform/win32/win32_window.h"

#include <cstdio>

namespace nl::win32 {

int runWindow(int, char**) {
    std::fputs("Error: this build has no desktop window; the headless commands are listed by --help\n", stderr);
    return 1;
}

}  // namespace nl::win32
