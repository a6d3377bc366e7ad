#include "base/file_io.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#if __has_include(<sys/mman.h>)
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#define NL_HAVE_MMAP 1
#endif

namespace nl {

namespace {

std::atomic<size_t> faultCount{0};

void setError(FileError* error, bool missing, std::string reason) {
    if (!error) return;
    error->missing = missing;
    error->reason = std::move(reason);
}

std::string tooLarge() { return "larger than " + std::to_string(kMaxReadBytes >> 20) + " MB"; }

#ifdef NL_HAVE_MMAP

// A mapped file that another program shrinks while it is read would end the
// process with SIGBUS on the first page past the new end. The ranges of the
// mappings in use are registered here; a fault inside one of them gets a page
// of zeros mapped over the vanished one, is counted, and reading goes on.
// Faults anywhere else are left to whoever handled the signal before.
constexpr int kGuardSlots = 64;
struct GuardSlot {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
};
GuardSlot guardSlots[kGuardSlots];
struct sigaction previousBusAction;
uintptr_t pageSize = 4096;

void onBusError(int sig, siginfo_t* info, void* context) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (GuardSlot& slot : guardSlots) {
        if (at < slot.begin.load(std::memory_order_acquire) || at >= slot.end.load(std::memory_order_acquire)) continue;
        void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
        if (mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            faultCount.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
    if (previousBusAction.sa_flags & SA_SIGINFO) {
        if (previousBusAction.sa_sigaction) previousBusAction.sa_sigaction(sig, info, context);
        return;
    }
    if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN) {
        previousBusAction.sa_handler(sig);
        return;
    }
    // Returning re-runs the faulting access, which now ends the process as usual.
    signal(SIGBUS, SIG_DFL);
}

bool installBusGuard() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        const long page = sysconf(_SC_PAGESIZE);
        if (page > 0) pageSize = static_cast<uintptr_t>(page);
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ready = sigaction(SIGBUS, &action, &previousBusAction) == 0;
    });
    return ready;
}

// A free slot for [begin, end), or -1 when all are taken.
int guardRange(uintptr_t begin, uintptr_t end) {
    for (int i = 0; i < kGuardSlots; ++i) {
        uintptr_t expected = 0;
        if (guardSlots[i].begin.compare_exchange_strong(expected, begin, std::memory_order_acq_rel)) {
            guardSlots[i].end.store(end, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

void releaseRange(int slot) {
    guardSlots[slot].end.store(0, std::memory_order_release);
    guardSlots[slot].begin.store(0, std::memory_order_release);
}

// Reads an open regular file whose size is unknown or small (files of /proc
// report 0) up to kMaxReadBytes.
bool readDescriptor(int fd, FileData& out, FileError* error) {
    auto text = std::make_shared<std::string>();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            setError(error, false, std::strerror(errno));
            return false;
        }
        if (n == 0) break;
        if (static_cast<size_t>(n) > kMaxReadBytes - text->size()) {
            setError(error, false, tooLarge());
            return false;
        }
        text->append(buffer, static_cast<size_t>(n));
    }
    out.bytes = *text;
    out.owner = std::move(text);
    return true;
}

#else

bool readByStream(const std::string& path, FileData& out, FileError* error) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::u8path(path);
    const std::filesystem::file_status st = std::filesystem::status(p, ec);
    if (!std::filesystem::exists(st)) {
        setError(error, true, "no such file");
        return false;
    }
    if (std::filesystem::is_directory(st)) {
        setError(error, false, "is a folder");
        return false;
    }
    if (!std::filesystem::is_regular_file(st)) {
        setError(error, false, "not a regular file");
        return false;
    }
    try {
        std::ifstream in(p, std::ios::binary);
        if (!in) {
            setError(error, false, "cannot be opened");
            return false;
        }
        auto text = std::make_shared<std::string>();
        char buffer[65536];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            const size_t n = static_cast<size_t>(in.gcount());
            if (n > kMaxReadBytes - text->size()) {
                setError(error, false, tooLarge());
                return false;
            }
            text->append(buffer, n);
        }
        if (in.bad()) {
            setError(error, false, "read error");
            return false;
        }
        out.bytes = *text;
        out.owner = std::move(text);
        return true;
    } catch (const std::exception& e) {
        setError(error, false, e.what());
        return false;
    }
}

#endif

}  // namespace

size_t mappedFileFaults() { return faultCount.load(std::memory_order_relaxed); }

bool readWholeFile(const std::string& path, FileData& out, FileError* error) {
#ifdef NL_HAVE_MMAP
    // Non-blocking, so that opening a FIFO does not wait for a writer; the
    // type is checked before anything is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int e = errno;
        // A socket cannot be opened at all.
        setError(error, e == ENOENT || e == ENOTDIR, e == ENXIO ? "not a regular file" : std::strerror(e));
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        setError(error, false, std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        setError(error, false, "is a folder");
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, false, "not a regular file");
        return false;
    }
    if (static_cast<unsigned long long>(st.st_size) > kMaxReadBytes) {
        setError(error, false, tooLarge());
        return false;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    // Small files are copied, which leaves the guarded slots to the large ones.
    if (size < 65536 || !installBusGuard()) return readDescriptor(fd, out, error);
#ifdef MAP_POPULATE
    // Mapping the pages in one go costs far less than faulting them in one by one.
    constexpr int kFlags = MAP_PRIVATE | MAP_POPULATE;
#else
    constexpr int kFlags = MAP_PRIVATE;
#endif
    void* p = ::mmap(nullptr, size, PROT_READ, kFlags, fd, 0);
    if (p == MAP_FAILED) return readDescriptor(fd, out, error);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    const int slot = guardRange(begin, begin + size);
    if (slot < 0) {
        ::munmap(p, size);
        return readDescriptor(fd, out, error);
    }
    ::madvise(p, size, MADV_SEQUENTIAL);
    out.owner = std::shared_ptr<const void>(p, [size, slot](const void* q) {
        releaseRange(slot);
        ::munmap(const_cast<void*>(q), size);
    });
    out.bytes = std::string_view(static_cast<const char*>(p), size);
    return true;
#else
    return readByStream(path, out, error);
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

std::FILE* openFile(const std::string& path, const char* mode) {
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(std::filesystem::u8path(path).c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

}  // namespace nl
