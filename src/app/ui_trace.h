// The window's state trace: one compact JSON object per line, appended to a
// file and flushed at once, so a script driving the real window can follow
// what a person would have seen (status texts, tabs, sheets, highlights,
// transcript entries, busy state). Off unless a file is named.
#pragma once

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace nl {

class UiTrace {
public:
    UiTrace() = default;
    ~UiTrace();
    UiTrace(const UiTrace&) = delete;
    UiTrace& operator=(const UiTrace&) = delete;

    // Starts appending to `path`; an empty path, or one that cannot be opened, leaves the trace off.
    void open(const std::string& path);
    bool on() const { return file_ != nullptr; }
    // `event` names the change; `fields` (an object) adds its details.
    void write(const std::string& event, nlohmann::json fields = nlohmann::json::object());

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

}  // namespace nl
