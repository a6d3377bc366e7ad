// Whole-file reading. On POSIX systems a regular file is memory-mapped, so a
// large design is not copied into fresh memory before it is parsed.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace nl {

struct FileData {
    std::shared_ptr<const void> owner;  // keeps `bytes` valid
    std::string_view bytes;
};

// Why a file could not be read.
struct FileError {
    bool missing = false;  // nothing at that path (or a folder on it is missing)
    std::string reason;    // for a message: "not a regular file", "Permission denied", ...
};

// Files beyond this are refused: no design comes near it, and a file that
// claims more is not one.
inline constexpr size_t kMaxReadBytes = size_t(1) << 30;

// Reads the whole regular file at `path` (UTF-8). Devices, pipes, sockets and
// folders are refused rather than read, so nothing can block or read forever.
// Returns false when it cannot be opened or read, with the cause in `error`.
bool readWholeFile(const std::string& path, FileData& out, FileError* error = nullptr);

// How often a mapped file shrank under this process while it was being read
// (its vanished pages then read as zero bytes instead of ending the process).
// A loader compares the count before and after its work.
size_t mappedFileFaults();

// When the file at `path` was last written, in local time as "dd.mm.yyyy hh:mm";
// empty when that cannot be learnt.
std::string fileModifiedText(const std::string& path);

// std::fopen for a UTF-8 path. On Windows the narrow name would be read in the
// ANSI code page, so a folder named with letters outside it could not be used.
std::FILE* openFile(const std::string& path, const char* mode);

}  // namespace nl
