// Standard output and standard error for the command line. Text inside the
// program is UTF-8; by default it goes out as those bytes. A platform whose
// terminal is not a byte stream (the Windows console wants UTF-16) installs
// its own writer once at start-up, and every line the command line prints
// passes through it.
#pragma once

#include <string_view>

namespace nl {

enum class StdStream { out, err };

// Writes `text` to the stream; false when not all of it was written (errno
// then says why where the system sets it).
bool writeStd(StdStream stream, std::string_view text);
// Pushes out what the stream holds; false on failure.
bool flushStd(StdStream stream);

struct StdWriter {
    bool (*write)(StdStream stream, std::string_view text) = nullptr;
    bool (*flush)(StdStream stream) = nullptr;
};

// Replaces the byte writer; a writer with null members restores it. Call
// before any other thread exists.
void setStdWriter(const StdWriter& writer);

}  // namespace nl
