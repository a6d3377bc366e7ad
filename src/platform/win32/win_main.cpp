// The process entry on Windows. The runtime's narrow argument vector is in the
// ANSI code page, which cannot hold every file name; the wide command line
// can, so the arguments are taken from it and handed on as UTF-8.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/cli.h"
#include "platform/platform.h"
#include "platform/win32/console_output.h"
#include "platform/win32/wide_text.h"

int main() {
    int count = 0;
    std::vector<std::string> args;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) args.push_back(nl::win32::narrow(wide[i]));
        LocalFree(wide);
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    nl::win32::installConsoleOutput();
    nl::registerPlatformServices();
    return nl::runMain(static_cast<int>(args.size()), argv.data(), nl::platformWindowStarter());
}
