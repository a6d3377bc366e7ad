// Part of the program: finds and loads libnetloom-gui.so when a window or a
// PDF or PNG is first asked for.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/gui_module.h"

#ifndef NETLOOM_GUI_MODULE_DIR
#define NETLOOM_GUI_MODULE_DIR "../lib/netloom"
#endif

namespace nl {

namespace {

std::string programFolder() {
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return ".";
    const std::string path(buffer.data(), static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

void* loadGuiModule(std::string* error) {
    static std::once_flag once;
    static void* handle = nullptr;
    static std::string failure;
    std::call_once(once, [] {
        const std::string folder = programFolder();
        // Beside the program in a build folder; in the library folder once installed.
        for (const std::string& candidate :
             {folder + "/" + kGuiModuleName, folder + "/" NETLOOM_GUI_MODULE_DIR "/" + kGuiModuleName}) {
            handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle) return;
            const char* why = dlerror();
            // A module that is there but cannot be loaded says more than one that is missing.
            if (access(candidate.c_str(), F_OK) == 0 || failure.empty())
                failure = why ? why : candidate + " cannot be loaded";
        }
    });
    if (!handle && error) *error = failure;
    return handle;
}

namespace {

template <typename Fn>
Fn entryPoint(const char* name, std::string* error) {
    void* module = loadGuiModule(error);
    if (!module) return nullptr;
    void* f = dlsym(module, name);
    if (!f && error) *error = std::string(kGuiModuleName) + " has no " + name;
    return reinterpret_cast<Fn>(f);
}

std::atomic<bool> writersLoaded{false};

// The module's own writers, loaded once; null with a message when they cannot be.
const DrawingWriters* moduleWriters(std::string* error) {
    static std::once_flag once;
    static DrawingWriters writers;
    static std::string failure;
    std::call_once(once, [] {
        auto get = entryPoint<void (*)(DrawingWriters*)>("netloom_gui_drawing_writers", &failure);
        if (!get) return;
        get(&writers);
        writersLoaded = true;
    });
    if (writersLoaded) return &writers;
    if (error)
        *error = "PDF and PNG drawings need " + std::string(kGuiModuleName) + ", which cannot be loaded: " + failure;
    return nullptr;
}

}  // namespace

DrawingWriters guiModuleDrawingWriters() {
    DrawingWriters proxies;
    proxies.pdf = [](const Schematic& s, const std::vector<int>& sheets, const Settings& settings,
                     const std::string& path, std::string* error) {
        const DrawingWriters* w = moduleWriters(error);
        if (w && !w->pdf && error) *error = "PDF is not available in this build";
        return w && w->pdf && w->pdf(s, sheets, settings, path, error);
    };
    proxies.png = [](const Schematic& s, int sheet, const Settings& settings, bool frame, int width_px,
                     const std::string& path, std::string* error) {
        const DrawingWriters* w = moduleWriters(error);
        if (w && !w->png && error) *error = "PNG is not available in this build";
        return w && w->png && w->png(s, sheet, settings, frame, width_px, path, error);
    };
    proxies.release = [] {
        if (!writersLoaded) return;
        const DrawingWriters* w = moduleWriters(nullptr);
        if (w && w->release) w->release();
    };
    return proxies;
}

int runGuiModuleWindow(int argc, char** argv) {
    std::string error;
    auto run = entryPoint<int (*)(int, char**)>("netloom_gui_run_window", &error);
    if (!run) {
        std::fputs(("Error: the desktop window cannot be started: " + error + "\n").c_str(), stderr);
        return 1;
    }
    return run(argc, argv);
}

}  // namespace nl
