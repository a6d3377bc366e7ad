#include "platform/win32/console_output.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "base/std_output.h"
#include "platform/win32/wide_text.h"

namespace nl::win32 {

namespace {

// One console write at most: old consoles refuse a single call much beyond 64 KB.
constexpr size_t kConsoleChunk = 8192;

struct Stream {
    std::FILE* file;
    HANDLE console;  // null when the stream is a pipe, a file or absent
};
Stream streams[2];

Stream& streamOf(StdStream s) { return streams[s == StdStream::out ? 0 : 1]; }

HANDLE consoleOf(DWORD which) {
    HANDLE h = GetStdHandle(which);
    DWORD mode = 0;
    return h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) ? h : nullptr;
}

bool writeText(StdStream stream, std::string_view text) {
    Stream& s = streamOf(stream);
    if (!s.console) return std::fwrite(text.data(), 1, text.size(), s.file) == text.size();
    // Whatever went through the runtime's buffer comes first.
    std::fflush(s.file);
    const std::wstring wide = widen(text);
    for (size_t at = 0; at < wide.size();) {
        size_t n = wide.size() - at < kConsoleChunk ? wide.size() - at : kConsoleChunk;
        // A surrogate pair is never split between two writes.
        if (at + n < wide.size() && IS_HIGH_SURROGATE(wide[at + n - 1])) --n;
        DWORD written = 0;
        if (!WriteConsoleW(s.console, wide.data() + at, static_cast<DWORD>(n), &written, nullptr) || written == 0)
            return false;
        at += written;
    }
    return true;
}

bool flushText(StdStream stream) { return std::fflush(streamOf(stream).file) == 0; }

}  // namespace

void installConsoleOutput() {
    streams[0] = {stdout, consoleOf(STD_OUTPUT_HANDLE)};
    streams[1] = {stderr, consoleOf(STD_ERROR_HANDLE)};
    // Pipes and files get the program's bytes exactly, "\n" line ends included,
    // as a script reading them on any system expects.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    setStdWriter({writeText, flushText});
}

// netloom.exe is a console program, so that cmd.exe and PowerShell wait for a
// headless command and see its exit status; a GUI program returns to the
// prompt at once, and output it attaches to the parent's console afterwards
// would mix with the prompt. Started from Explorer or a shortcut, Windows
// gives a console program a console of its own, which nobody reads once the
// window is up: when this process is the only one on it, it is closed (it
// shows for a moment before the window). Started from a terminal, the console
// is shared with the shell and stays; the terminal waits for the window.
void releaseOwnConsole() {
    DWORD ids[2] = {};
    if (GetConsoleProcessList(ids, 2) == 1) FreeConsole();
}

}  // namespace nl::win32
