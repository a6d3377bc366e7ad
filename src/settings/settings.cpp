#include "settings/settings.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "base/file_io.h"
#include "base/text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace nl {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A settings file is a few kilobytes; anything far beyond this is not one,
// and a device such as /dev/zero must not be read forever.
constexpr size_t kMaxSettingsBytes = 32u << 20;

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

fs::path pathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> envText(const char* name) {
#ifdef _WIN32
    // The narrow environment is in the ANSI code page; the wide one keeps a
    // profile folder such as C:\Users\José intact on its way to UTF-8.
    const std::wstring wide(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = _wgetenv(wide.c_str());
    if (!value) return std::nullopt;
    const std::u8string utf8 = fs::path(value).u8string();
    return std::string(utf8.begin(), utf8.end());
#else
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
#endif
}

// Text that is not valid UTF-8 (a command-line value, a recent path) must not
// stop the settings from being written: such bytes are replaced.
std::string dumpJson(const json& value, int indent) {
    return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

// The settings file's text, or false with what is wrong (missing: no file).
bool readSettingsText(const std::string& path, std::string& text, bool& missing, std::string& problem) {
    FileData data;
    FileError failure;
    missing = false;
    if (!readWholeFile(path, data, &failure)) {
        missing = failure.missing;
        problem = "cannot be read: " + failure.reason;
        return false;
    }
    if (data.bytes.size() > kMaxSettingsBytes) {
        problem = "is larger than " + std::to_string(kMaxSettingsBytes >> 20) + " MB";
        return false;
    }
    text.assign(data.bytes);
    return true;
}

// The parser's message without its "[json.exception.parse_error.101] " tag.
std::string parserMessage(const json::exception& e) {
    std::string what = e.what();
    if (!what.empty() && what[0] == '[') {
        const size_t close = what.find("] ");
        if (close != std::string::npos) what.erase(0, close + 2);
    }
    return what;
}

// The file a path names once symbolic links are followed (at most 40 of
// them, as the system does): saving replaces that file and keeps the links.
fs::path linkTarget(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
        fs::path next = fs::read_symlink(path, ec);
        if (ec) break;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
}

constexpr const char* kTempMarker = ".tmp-";

// "<name>.tmp-" followed by twelve hexadecimal digits: a temporary file of ours.
bool isTempOf(const std::string& candidate, const std::string& name) {
    const std::string prefix = name + kTempMarker;
    if (candidate.size() != prefix.size() + 12 || candidate.compare(0, prefix.size(), prefix) != 0) return false;
    for (size_t i = prefix.size(); i < candidate.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(candidate[i]))) return false;
    return true;
}

std::string uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
        std::random_device device;
        seed ^= (static_cast<uint64_t>(device()) << 32) | device();
    } catch (const std::exception&) {
        // The clock and the counter still keep names apart within this process.
    }
    seed += counter.fetch_add(1);
    static const char digits[] = "0123456789abcdef";
    std::string s = kTempMarker;
    for (int i = 0; i < 12; ++i) s += digits[(seed >> (4 * i)) & 15];
    return s;
}

// Writes the whole text to a new file that only its owner may read (it holds
// the API key); false, with the reason and nothing left behind, on any failure.
bool writeNewPrivateFile(const fs::path& path, const std::string& text, std::string& why) {
#ifdef _WIN32
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) {
            why = "cannot create a file in its folder";
            return false;
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        bool ok = out.good();
        out.close();
        if (ok && !out.fail()) return true;
    }
    why = "the disk may be full";
    std::error_code ec;
    fs::remove(path, ec);
    return false;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;  // on disk before it replaces the old file
    if (!ok) why = std::strerror(errno ? errno : EIO);
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (!ok) ::unlink(path.c_str());
    return ok;
#endif
}

// Writes `text` to a temporary file next to `path` and renames it over `path`,
// so a crash or a full disk never leaves a half-written file behind.
// Temporary files that a killed save left next to it are removed first (the
// caller holds the settings lock, so no other save is under way).
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& why) {
    std::error_code ec;
    const fs::path target = linkTarget(pathOf(path));
    const fs::file_status old = fs::status(target, ec);
    const bool exists = fs::exists(old);
    if (exists && !fs::is_regular_file(old)) {
        why = "not a regular file";
        return false;
    }
    // A file the user made read-only is left alone, as an in-place write would.
    if (exists && (old.permissions() & fs::perms::owner_write) == fs::perms::none) {
        why = "the file is read-only";
        return false;
    }

    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string name = target.filename().string();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (isTempOf(it->path().filename().string(), name)) fs::remove(it->path(), ec);

    fs::path temp = target;
    temp += pathOf(uniqueSuffix());
    if (!writeNewPrivateFile(temp, text, why)) return false;
    // A file the user shared with others keeps its permissions.
    if (exists) fs::permissions(temp, old.permissions(), ec);
    fs::rename(temp, target, ec);
    if (ec) {
        why = ec.message();
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

// Holds the settings lock, a lock file next to the settings file, for its
// lifetime. Saves and read-change-write updates take it, so neither sees the
// other half done. Where no lock can be had (a read-only folder) the work goes
// on without one; its write then fails on its own.
class SettingsLock {
public:
    explicit SettingsLock(const std::string& settingsFile) {
        fs::path lock = linkTarget(pathOf(settingsFile));
        lock += ".lock";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
#ifdef _WIN32
        for (;;) {
            // An exclusive open is the lock; the system drops it when the process ends.
            if (_wsopen_s(&fd_, lock.c_str(), _O_RDWR | _O_CREAT, _SH_DENYRW, _S_IREAD | _S_IWRITE) == 0) {
                busy_ = false;
                break;
            }
            fd_ = -1;
            busy_ = errno == EACCES;
            if (!busy_ || std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
#else
        fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
                busy_ = errno == EWOULDBLOCK;
                ::close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
#endif
    }
    ~SettingsLock() {
#ifdef _WIN32
        if (fd_ >= 0) _close(fd_);
#else
        if (fd_ >= 0) ::close(fd_);  // releases the lock
#endif
    }
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;

    // Another program held the lock for longer than any save takes.
    bool busy() const { return busy_; }

private:
    int fd_ = -1;
    bool busy_ = false;
};

// Readers for one member each: a value of the wrong type keeps the member.
void readString(const json& object, const char* key, std::string& member) {
    const auto it = object.find(key);
    if (it != object.end() && it->is_string()) member = it->get_ref<const std::string&>();
}

void readBool(const json& object, const char* key, bool& member) {
    const auto it = object.find(key);
    if (it != object.end() && it->is_boolean()) member = it->get<bool>();
}

void readInt(const json& object, const char* key, int32_t& member) {
    const auto it = object.find(key);
    if (it == object.end()) return;
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t hi = std::numeric_limits<int32_t>::max();
    if (it->is_number_unsigned()) {
        const uint64_t v = it->get<uint64_t>();
        if (v <= static_cast<uint64_t>(hi)) member = static_cast<int32_t>(v);
    } else if (it->is_number_integer()) {
        const int64_t v = it->get<int64_t>();
        if (v >= lo && v <= hi) member = static_cast<int32_t>(v);
    } else if (it->is_number_float()) {
        const double v = std::trunc(it->get<double>());
        if (std::isfinite(v) && v >= static_cast<double>(lo) && v <= static_cast<double>(hi))
            member = static_cast<int32_t>(v);
    } else if (it->is_boolean()) {
        member = it->get<bool>() ? 1 : 0;
    }
}

void readDouble(const json& object, const char* key, double& member) {
    const auto it = object.find(key);
    if (it != object.end() && it->is_number()) member = it->get<double>();
}

void readList(const json& object, const char* key, std::vector<std::string>& member) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_array()) return;
    std::vector<std::string> list;
    list.reserve(it->size());
    for (const json& item : *it) {
        if (!item.is_string()) return;
        list.push_back(item.get<std::string>());
    }
    member = std::move(list);
}

const json* section(const json& root, const char* key) {
    const auto it = root.find(key);
    return it != root.end() && it->is_object() ? &*it : nullptr;
}

void flatten(const json& value, const std::string& key, std::vector<std::pair<std::string, std::string>>& out) {
    if (value.is_object()) {
        for (const auto& [name, child] : value.items()) flatten(child, key.empty() ? name : key + "." + name, out);
    } else if (value.is_string()) {
        out.emplace_back(key, value.get<std::string>());
    } else {
        out.emplace_back(key, dumpJson(value, -1));
    }
}

std::vector<std::string> splitList(const std::string& value) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(',', start);
        if (end == std::string::npos) end = value.size();
        std::string item = trim(std::string_view(value).substr(start, end - start));
        if (!item.empty()) items.push_back(std::move(item));
        start = end + 1;
    }
    return items;
}

}  // namespace

std::string settingsDir() {
#ifdef _WIN32
    return envText("APPDATA").value_or(".") + "\\Netloom";
#else
    const std::optional<std::string> config = envText("XDG_CONFIG_HOME");
    if (config && !config->empty()) return *config + "/netloom";
    const std::optional<std::string> home = envText("HOME");
    if (home && !home->empty()) return *home + "/.config/netloom";
    return "./netloom";
#endif
}

std::string settingsPath() {
    const std::optional<std::string> named = envText("NETLOOM_SETTINGS");
    if (named && !named->empty()) return *named;
#ifdef _WIN32
    return settingsDir() + "\\settings.json";
#else
    return settingsDir() + "/settings.json";
#endif
}

const std::vector<ProviderPreset>& providerPresets() {
    static const std::vector<ProviderPreset> presets = {
        {"ollama", "Ollama (local)", kOllamaBaseUrl,
         "Runs fully offline on this computer. Pull a tool-capable model such as qwen3, llama3.1 or mistral."},
        {"ovreth", "Ovreth AI", "https://api.ovreth.com/v1", "Ovreth's hosted models. Paste your Ovreth API key."},
        {"universal", "Ovreth Universal Gateway", "https://gateway.ovreth.com/v1",
         "One key for 300+ providers through the Ovreth gateway. Free models work without a key."},
        {"custom", "Custom OpenAI-compatible", "https://api.openai.com/v1",
         "Any server that speaks /v1/chat/completions (OpenAI, OpenRouter, LM Studio, llama.cpp, vLLM...)."},
    };
    return presets;
}

void applyProviderPreset(Settings& settings, const std::string& id) {
    for (const ProviderPreset& p : providerPresets())
        if (p.id == id) {
            settings.ai.provider = p.id;
            settings.ai.base_url = p.base_url;
            return;
        }
}

json Settings::toJson() const {
    json ai = {
        {"provider", this->ai.provider},
        {"base_url", this->ai.base_url},
        {"api_key", this->ai.api_key},
        {"model", this->ai.model},
        {"temperature", this->ai.temperature},
        {"max_tokens", this->ai.max_tokens},
        {"max_tool_rounds", this->ai.max_tool_rounds},
        {"tools_enabled", this->ai.tools_enabled},
        {"tools_mode", this->ai.tools_mode},
        {"allow_view_changes", this->ai.allow_view_changes},
        {"disabled_tools", this->ai.disabled_tools},
        {"extra_system_prompt", this->ai.extra_system_prompt},
        {"include_summary", this->ai.include_summary},
        {"timeout_sec", this->ai.timeout_sec},
        {"summary_items", this->ai.summary_items},
    };
    json ercJson = {
        {"unconnected", erc.unconnected}, {"power", erc.power},   {"dangling", erc.dangling},
        {"single_pin", erc.single_pin},   {"names", erc.names},   {"outputs", erc.outputs},
        {"duplicates", erc.duplicates},   {"labels", erc.labels},
    };
    json analysisJson = {
        {"passthrough_prefixes", analysis.passthrough_prefixes},
        {"through_ics", analysis.through_ics},
        {"max_depth", analysis.max_depth},
    };
    return json{
        {"theme", theme},
        {"highlight_color", highlight_color},
        {"glow", glow},
        {"dim_others", dim_others},
        {"show_grid", show_grid},
        {"show_pin_numbers", show_pin_numbers},
        {"show_pin_names", show_pin_names},
        {"show_hidden_pins", show_hidden_pins},
        {"show_values", show_values},
        {"show_footprints", show_footprints},
        {"show_net_names_on_hover", show_net_names_on_hover},
        {"number_highlighted_pins", number_highlighted_pins},
        {"font_scale", font_scale},
        {"wire_width", wire_width},
        {"detail_level", detail_level},
        {"tooltips", tooltips},
        {"auto_fit", auto_fit},
        {"confirm_ai_view_changes", confirm_ai_view_changes},
        {"max_recent", max_recent},
        {"recent", recent},
        {"ai", std::move(ai)},
        {"erc", std::move(ercJson)},
        {"analysis", std::move(analysisJson)},
    };
}

void Settings::fromJson(const json& value) {
    if (!value.is_object()) return;
    readString(value, "theme", theme);
    readString(value, "highlight_color", highlight_color);
    readDouble(value, "glow", glow);
    readBool(value, "dim_others", dim_others);
    readBool(value, "show_grid", show_grid);
    readBool(value, "show_pin_numbers", show_pin_numbers);
    readBool(value, "show_pin_names", show_pin_names);
    readBool(value, "show_hidden_pins", show_hidden_pins);
    readBool(value, "show_values", show_values);
    readBool(value, "show_footprints", show_footprints);
    readBool(value, "show_net_names_on_hover", show_net_names_on_hover);
    readBool(value, "number_highlighted_pins", number_highlighted_pins);
    readDouble(value, "font_scale", font_scale);
    readDouble(value, "wire_width", wire_width);
    readString(value, "detail_level", detail_level);
    readBool(value, "tooltips", tooltips);
    readBool(value, "auto_fit", auto_fit);
    readBool(value, "confirm_ai_view_changes", confirm_ai_view_changes);
    readInt(value, "max_recent", max_recent);
    readList(value, "recent", recent);
    if (const json* a = section(value, "ai")) {
        readString(*a, "provider", ai.provider);
        readString(*a, "base_url", ai.base_url);
        readString(*a, "api_key", ai.api_key);
        readString(*a, "model", ai.model);
        readDouble(*a, "temperature", ai.temperature);
        readInt(*a, "max_tokens", ai.max_tokens);
        readInt(*a, "max_tool_rounds", ai.max_tool_rounds);
        readBool(*a, "tools_enabled", ai.tools_enabled);
        readString(*a, "tools_mode", ai.tools_mode);
        readBool(*a, "allow_view_changes", ai.allow_view_changes);
        readList(*a, "disabled_tools", ai.disabled_tools);
        readString(*a, "extra_system_prompt", ai.extra_system_prompt);
        readBool(*a, "include_summary", ai.include_summary);
        readInt(*a, "timeout_sec", ai.timeout_sec);
        readInt(*a, "summary_items", ai.summary_items);
    }
    if (const json* e = section(value, "erc")) {
        readBool(*e, "unconnected", erc.unconnected);
        readBool(*e, "power", erc.power);
        readBool(*e, "dangling", erc.dangling);
        readBool(*e, "single_pin", erc.single_pin);
        readBool(*e, "names", erc.names);
        readBool(*e, "outputs", erc.outputs);
        readBool(*e, "duplicates", erc.duplicates);
        readBool(*e, "labels", erc.labels);
    }
    if (const json* t = section(value, "analysis")) {
        readList(*t, "passthrough_prefixes", analysis.passthrough_prefixes);
        readBool(*t, "through_ics", analysis.through_ics);
        readInt(*t, "max_depth", analysis.max_depth);
    }
    if (detail_level != "minimal" && detail_level != "standard" && detail_level != "verbose") detail_level = "standard";
}

Settings::FileState Settings::loadFile(std::string* problem) {
    std::string text, what;
    bool missing = false;
    if (!readSettingsText(settingsPath(), text, missing, what)) {
        setError(problem, missing ? "does not exist yet" : what);
        return missing ? FileState::missing : FileState::damaged;
    }
    json value;
    try {
        value = json::parse(text);
    } catch (const json::exception& e) {
        setError(problem, "is not valid JSON: " + parserMessage(e));
        return FileState::damaged;
    }
    fromJson(value);
    return FileState::loaded;
}

Settings settingsForReading(std::string* warning) {
    Settings settings;
    std::string problem;
    if (warning) warning->clear();
    if (settings.loadFile(&problem) == Settings::FileState::damaged) {
        settings = Settings();
        if (warning) *warning = "Warning: the settings file " + settingsPath() + " " + problem + "; using the defaults";
    }
    return settings;
}

bool Settings::load(std::string* error) {
    std::string problem;
    switch (loadFile(&problem)) {
        case FileState::loaded:
            return true;
        case FileState::missing:
            setError(error, "no settings file yet");
            return false;
        case FileState::damaged:
            break;
    }
    // The file's own name, whatever NETLOOM_SETTINGS calls it.
    setError(error, "settings.json " + problem);
    return false;
}

namespace {

bool saveSettings(const Settings& settings, std::string* error) {
    std::error_code ec;
    fs::create_directories(pathOf(settingsDir()), ec);  // a failure shows when the file is written
    const std::string path = settingsPath();
    std::string why;
    if (!writeFileAtomically(path, dumpJson(settings.toJson(), 2) + "\n", why)) {
        setError(error, "cannot write " + path + ": " + why);
        return false;
    }
    return true;
}

std::string busyMessage() {
    return "the settings file " + settingsPath() + " is locked by another program; nothing was changed";
}

}  // namespace

bool Settings::save(std::string* error) const {
    std::error_code ec;
    fs::create_directories(pathOf(settingsDir()), ec);
    const SettingsLock lock(settingsPath());
    if (lock.busy()) {
        setError(error, busyMessage());
        return false;
    }
    return saveSettings(*this, error);
}

bool updateSettings(const std::function<bool(Settings&, std::string*)>& change, std::string* error) {
    std::error_code ec;
    fs::create_directories(pathOf(settingsDir()), ec);
    const SettingsLock lock(settingsPath());
    if (lock.busy()) {
        setError(error, busyMessage());
        return false;
    }
    Settings settings;
    std::string problem;
    if (settings.loadFile(&problem) == Settings::FileState::damaged) {
        setError(error, "the settings file " + settingsPath() + " " + problem +
                            "; nothing was changed (repair or remove it first)");
        return false;
    }
    if (!change(settings, error)) return false;
    return saveSettings(settings, error);
}

std::vector<std::pair<std::string, std::string>> Settings::flat() const {
    std::vector<std::pair<std::string, std::string>> out;
    flatten(toJson(), "", out);
    return out;
}

namespace {

std::vector<std::string> keyParts(const std::string& key) {
    std::string dotted = key;
    std::replace(dotted.begin(), dotted.end(), '/', '.');
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= dotted.size()) {
        size_t end = dotted.find('.', start);
        if (end == std::string::npos) end = dotted.size();
        if (end > start) parts.push_back(dotted.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// What a key takes beyond its type: a range for numbers, a list of choices or
// a pattern for texts. Keys not listed take any value of their type.
struct ValueRule {
    const char* key;
    double min = 0, max = 0;  // numbers, when min < max
    std::vector<std::string> choices = {};
    bool colour = false;  // "#" and six (or eight, with alpha) hexadecimal digits
};

const std::vector<ValueRule>& valueRules() {
    static const std::vector<ValueRule> rules = {
        {"theme", 0, 0, {"dark", "light", "blueprint", "paper"}},
        {"highlight_color", 0, 0, {}, true},
        {"glow", 0, 50},
        {"font_scale", 0.25, 4},
        {"wire_width", 0.1, 10},
        {"detail_level", 0, 0, {"minimal", "standard", "verbose"}},
        {"max_recent", 0, 100},
        {"ai.temperature", 0, 2},
        {"ai.max_tokens", 1, 1000000},
        {"ai.max_tool_rounds", 1, 50},
        {"ai.tools_mode", 0, 0, {"auto", "native", "text"}},
        {"ai.timeout_sec", 1, 600},
        {"ai.summary_items", 1, 10000},
        {"analysis.max_depth", 1, 1000},
    };
    return rules;
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
    return out;
}

bool isColourText(const std::string& v) {
    if ((v.size() != 7 && v.size() != 9) || v[0] != '#') return false;
    return std::all_of(v.begin() + 1, v.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The whole text as a number (no blanks, no trailing characters).
bool wholeInteger(const std::string& text, long long& out) {
    const char* end = text.data() + text.size();
    auto r = std::from_chars(text.data(), end, out);
    return r.ec == std::errc() && r.ptr == end && !text.empty();
}

bool wholeDouble(const std::string& text, double& out) {
    const char* end = text.data() + text.size();
    auto r = std::from_chars(text.data(), end, out);
    return r.ec == std::errc() && r.ptr == end && !text.empty() && std::isfinite(out);
}

}  // namespace

std::string canonicalSettingKey(const std::string& key) {
    std::string out;
    for (const std::string& part : keyParts(key)) out += (out.empty() ? "" : ".") + part;
    return out;
}

bool Settings::setValue(const std::string& key, const std::string& value, std::string* error) {
    const std::vector<std::string> parts = keyParts(key);
    if (parts.empty()) {
        setError(error, "empty key");
        return false;
    }

    json root = toJson();
    json* node = &root;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto it = node->find(parts[i]);
        if (it == node->end() || !it->is_object()) {
            setError(error, "unknown setting section '" + parts[i] + "'");
            return false;
        }
        node = &*it;
    }
    const auto it = node->find(parts.back());
    if (it == node->end()) {
        setError(error, "unknown setting '" + key + "' (run --settings to list them)");
        return false;
    }

    const std::string name = canonicalSettingKey(key);
    const ValueRule* rule = nullptr;
    for (const ValueRule& r : valueRules())
        if (name == r.key) rule = &r;
    auto refuse = [&](const std::string& takes) {
        setError(error, "bad value '" + value + "' for " + name + ": it takes " + takes);
        return false;
    };
    auto range = [&](bool whole) {
        return std::string(whole ? "a whole number" : "a number") + " from " + formatNumber(rule->min, 2) + " to " +
               formatNumber(rule->max, 2);
    };

    json& current = *it;
    if (current.is_object()) {
        setError(error, "'" + name + "' is a section; name one of its settings (run --settings to list them)");
        return false;
    } else if (current.is_boolean()) {
        if (value != "true" && value != "false") return refuse("true or false");
        current = value == "true";
    } else if (current.is_number_integer()) {
        long long number = 0;
        const bool ok = wholeInteger(value, number);
        if (rule && rule->min < rule->max) {
            if (!ok || number < rule->min || number > rule->max) return refuse(range(true));
        } else if (!ok || number < std::numeric_limits<int32_t>::min() ||
                   number > std::numeric_limits<int32_t>::max()) {
            return refuse("a whole number");
        }
        current = static_cast<int32_t>(number);
    } else if (current.is_number_float()) {
        double number = 0;
        const bool ok = wholeDouble(value, number);
        if (rule && rule->min < rule->max) {
            if (!ok || number < rule->min || number > rule->max) return refuse(range(false));
        } else if (!ok) {
            return refuse("a number");
        }
        current = number;
    } else if (current.is_array()) {
        if (!value.empty() && value[0] == '[') {
            json parsed;
            try {
                parsed = json::parse(value);
            } catch (const json::exception& e) {
                return refuse("a JSON list of texts or texts separated by commas (" + parserMessage(e) + ")");
            }
            if (!parsed.is_array() ||
                !std::all_of(parsed.begin(), parsed.end(), [](const json& v) { return v.is_string(); }))
                return refuse("a JSON list of texts or texts separated by commas");
            current = std::move(parsed);
        } else {
            current = splitList(value);
        }
    } else {
        if (rule && !rule->choices.empty() &&
            std::find(rule->choices.begin(), rule->choices.end(), value) == rule->choices.end())
            return refuse("one of " + joined(rule->choices));
        if (rule && rule->colour && !isColourText(value)) return refuse("a colour such as #ffcc00");
        current = value;
    }

    fromJson(root);
    if (parts.back() == "provider") applyProviderPreset(*this, value);
    return true;
}

void Settings::addRecent(const std::string& path) {
    recent.erase(std::remove(recent.begin(), recent.end(), path), recent.end());
    recent.insert(recent.begin(), path);
    // A negative limit is read as no room at all.
    const size_t limit = max_recent > 0 ? static_cast<size_t>(max_recent) : 0;
    if (recent.size() > limit) recent.resize(limit);
}

}  // namespace nl
