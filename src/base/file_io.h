// Whole-file reading. On POSIX systems the file is memory-mapped, so a large
// design is not copied into fresh memory before it is parsed.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace nl {

struct FileData {
    std::shared_ptr<const void> owner;  // keeps `bytes` valid
    std::string_view bytes;
};

// Reads the whole file at `path` (UTF-8). Returns false when it cannot be
// opened or read (a directory, a missing file, no permission).
bool readWholeFile(const std::string& path, FileData& out);

// When the file at `path` was last written, in local time as "dd.mm.yyyy hh:mm";
// empty when that cannot be learnt.
std::string fileModifiedText(const std::string& path);

}  // namespace nl
