#include "settings/settings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <stdexcept>
#include <system_error>

#include "base/text.h"

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

enum class ReadStatus { ok, cannot_open, too_large };

ReadStatus readSettingsText(const std::string& path, std::string& text) {
    const fs::path p = pathOf(path);
    std::error_code ec;
    if (fs::is_directory(p, ec)) return ReadStatus::cannot_open;
    std::ifstream in(p, std::ios::binary);
    if (!in) return ReadStatus::cannot_open;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxSettingsBytes) return ReadStatus::too_large;
    }
    if (in.bad()) return ReadStatus::cannot_open;
    return ReadStatus::ok;
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
    std::string s = ".tmp-";
    for (int i = 0; i < 12; ++i) s += digits[(seed >> (4 * i)) & 15];
    return s;
}

// Writes `text` to a temporary file next to `path` and renames it over `path`,
// so a crash or a full disk never leaves a half-written file behind.
bool writeFileAtomically(const std::string& path, const std::string& text) {
    std::error_code ec;
    fs::path target = pathOf(path);
    // Keep a symbolic link (a settings file kept with other dotfiles) and
    // replace the file it points to.
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::canonical(target, ec);
        if (!ec) target = resolved;
    }
    const fs::file_status old = fs::status(target, ec);
    const bool exists = fs::exists(old);
    if (exists && !fs::is_regular_file(old)) return false;
    // A file the user made read-only is left alone, as an in-place write would.
    if (exists && (old.permissions() & fs::perms::owner_write) == fs::perms::none) return false;

    fs::path temp = target;
    temp += pathOf(uniqueSuffix());
    bool ok;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        ok = out.good();
        out.close();
        ok = ok && !out.fail();
    }
    if (ok) {
        // The file holds the API key: a new one is the owner's alone.
        const fs::perms perms = exists ? old.permissions() : fs::perms::owner_read | fs::perms::owner_write;
        fs::permissions(temp, perms, ec);
        fs::rename(temp, target, ec);
        ok = !ec;
    }
    if (!ok) fs::remove(temp, ec);
    return ok;
}

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

bool isTrueWord(const std::string& value) {
    const std::string v = toLower(value);
    return v == "1" || v == "true" || v == "yes" || v == "on";
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

bool Settings::load(std::string* error) {
    std::string text;
    switch (readSettingsText(settingsPath(), text)) {
        case ReadStatus::cannot_open:
            setError(error, "no settings file yet");
            return false;
        case ReadStatus::too_large:
            setError(error, "settings.json is not valid JSON: the file is larger than " +
                                std::to_string(kMaxSettingsBytes >> 20) + " MB");
            return false;
        case ReadStatus::ok:
            break;
    }
    json value;
    try {
        value = json::parse(text);
    } catch (const json::exception& e) {
        setError(error, std::string("settings.json is not valid JSON: ") + e.what());
        return false;
    }
    fromJson(value);
    return true;
}

bool Settings::save(std::string* error) const {
    std::error_code ec;
    fs::create_directories(pathOf(settingsDir()), ec);  // a failure shows when the file is written
    const std::string path = settingsPath();
    if (!writeFileAtomically(path, dumpJson(toJson(), 2) + "\n")) {
        setError(error, "cannot write " + path);
        return false;
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> Settings::flat() const {
    std::vector<std::pair<std::string, std::string>> out;
    flatten(toJson(), "", out);
    return out;
}

bool Settings::setValue(const std::string& key, const std::string& value, std::string* error) {
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

    json& current = *it;
    if (current.is_boolean()) {
        current = isTrueWord(value);
    } else if (current.is_number_integer()) {
        try {
            current = std::stoi(value);
        } catch (const std::logic_error&) {
            setError(error, "bad value: stoi");
            return false;
        }
    } else if (current.is_number_float()) {
        double number = 0;
        if (!parseDouble(value, number) || !std::isfinite(number)) {
            setError(error, "bad value: stod");
            return false;
        }
        current = number;
    } else if (current.is_array()) {
        if (!value.empty() && value[0] == '[') {
            try {
                current = json::parse(value);
            } catch (const json::exception& e) {
                setError(error, std::string("bad value: ") + e.what());
                return false;
            }
        } else {
            current = splitList(value);
        }
    } else {
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
