#include "base/file_io.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#if __has_include(<sys/mman.h>)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#define NL_HAVE_MMAP 1
#endif

namespace nl {

namespace {

bool readByStream(const std::string& path, FileData& out) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::u8path(path);
    if (std::filesystem::is_directory(p, ec)) return false;
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    auto text = std::make_shared<std::string>();
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size > 0) {
        text->resize(static_cast<size_t>(size));
        in.read(text->data(), size);
        text->resize(static_cast<size_t>(in.gcount()));
    } else {
        // Size unknown (a pipe, say): read to the end.
        text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (in.bad()) return false;
    out.bytes = *text;
    out.owner = std::move(text);
    return true;
}

}  // namespace

bool readWholeFile(const std::string& path, FileData& out) {
#ifdef NL_HAVE_MMAP
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode) || st.st_size == 0) {
        ::close(fd);
        return readByStream(path, out);
    }
    const size_t size = static_cast<size_t>(st.st_size);
#ifdef MAP_POPULATE
    // Mapping the pages in one go costs far less than faulting them in one by one.
    constexpr int kFlags = MAP_PRIVATE | MAP_POPULATE;
#else
    constexpr int kFlags = MAP_PRIVATE;
#endif
    void* p = ::mmap(nullptr, size, PROT_READ, kFlags, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) return readByStream(path, out);
    ::madvise(p, size, MADV_SEQUENTIAL);
    out.owner = std::shared_ptr<const void>(p, [size](const void* q) { ::munmap(const_cast<void*>(q), size); });
    out.bytes = std::string_view(static_cast<const char*>(p), size);
    return true;
#else
    return readByStream(path, out);
#endif
}

std::string fileModifiedText(const std::string& path) {
    if (path.empty()) return {};
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(std::filesystem::u8path(path), ec);
    if (ec) return {};
    const auto since = std::chrono::file_clock::to_sys(written);
    const std::time_t t =
        std::chrono::system_clock::to_time_t(std::chrono::time_point_cast<std::chrono::system_clock::duration>(since));
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) return {};
#else
    if (!localtime_r(&t, &local)) return {};
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900,
                  local.tm_hour, local.tm_min);
    return text;
}

}  // namespace nl
