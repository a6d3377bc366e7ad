#include "base/std_output.h"

#include <cstdio>

namespace nl {

namespace {

std::FILE* fileOf(StdStream stream) { return stream == StdStream::out ? stdout : stderr; }

bool writeBytes(StdStream stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), fileOf(stream)) == text.size();
}

bool flushBytes(StdStream stream) { return std::fflush(fileOf(stream)) == 0; }

StdWriter current{writeBytes, flushBytes};

}  // namespace

bool writeStd(StdStream stream, std::string_view text) { return text.empty() || current.write(stream, text); }

bool flushStd(StdStream stream) { return current.flush(stream); }

void setStdWriter(const StdWriter& writer) {
    current.write = writer.write ? writer.write : writeBytes;
    current.flush = writer.flush ? writer.flush : flushBytes;
}

}  // namespace nl
