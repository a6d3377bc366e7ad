#include "app/ui_trace.h"

#include "base/file_io.h"
#include "base/json_util.h"

namespace nl {

UiTrace::~UiTrace() {
    if (file_) std::fclose(file_);
}

void UiTrace::open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = path.empty() ? nullptr : openFile(path, "ab");
}

void UiTrace::write(const std::string& event, nlohmann::json fields) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return;
    if (!fields.is_object()) fields = nlohmann::json::object();
    fields["event"] = event;
    const std::string line = dumpJson(fields) + "\n";
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace nl
