// Every user preference, its default, and the settings file that keeps them
// between runs. The file is never required: a missing or damaged one simply
// leaves the defaults in force.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <utility>
#include <vector>

#include "analysis/erc.h"
#include "analysis/trace.h"

namespace nl {

// Base URL of a chat-completions server on this computer (Ollama's port).
inline constexpr const char* kOllamaBaseUrl = "http://127.0.0.1:11434/v1";

struct AiSettings {
    std::string provider = "ollama";
    std::string base_url = kOllamaBaseUrl;
    std::string api_key;
    std::string model;
    double temperature = 0.2;
    int32_t max_tokens = 1500;
    int32_t max_tool_rounds = 8;
    bool tools_enabled = true;
    std::string tools_mode = "auto";  // "auto", "native" or "text"
    bool allow_view_changes = true;
    std::vector<std::string> disabled_tools;
    std::string extra_system_prompt;
    bool include_summary = true;
    int32_t timeout_sec = 180;
    int32_t summary_items = 40;
};

struct Settings {
    std::string theme = "dark";
    std::string highlight_color = "#ffcc00";
    double glow = 7.0;
    bool dim_others = true;
    bool show_grid = false;
    bool show_pin_numbers = true;
    bool show_pin_names = true;
    bool show_hidden_pins = false;
    bool show_values = true;
    bool show_footprints = false;
    bool show_net_names_on_hover = true;
    bool number_highlighted_pins = true;
    double font_scale = 1.0;
    double wire_width = 1.0;
    std::string detail_level = "standard";  // "minimal", "standard" or "verbose"
    bool tooltips = true;
    bool auto_fit = true;
    bool confirm_ai_view_changes = false;
    int32_t max_recent = 10;
    std::vector<std::string> recent;  // newest first
    AiSettings ai;
    ErcOptions erc;
    TraceOptions analysis;

    // Reads settingsPath(). On false (no file, not valid JSON) nothing changed.
    bool load(std::string* error = nullptr);
    // The same, telling a missing file (the defaults, as meant) from a damaged
    // one; `problem` then says what is wrong with it ("is not valid JSON:
    // ... at line 1, column 18", "cannot be read: not a regular file").
    enum class FileState { loaded, missing, damaged };
    FileState loadFile(std::string* problem = nullptr);
    // Replaces the file atomically, under the settings lock; on false the old
    // file is left as it was.
    bool save(std::string* error = nullptr) const;

    nlohmann::json toJson() const;
    // Reads what fits; keys of the wrong type keep their current value.
    void fromJson(const nlohmann::json& value);

    // (key, value text) pairs ordered by full dotted key, e.g. ("ai.model", "").
    std::vector<std::pair<std::string, std::string>> flat() const;

    // The `--set` editor: the value text is converted to the key's type,
    // strictly ("true" or "false", whole numbers within the key's range, one
    // of the key's choices), else an error naming the key and what it takes.
    // Does not save. On false nothing changed.
    bool setValue(const std::string& key, const std::string& value, std::string* error = nullptr);

    void addRecent(const std::string& path);
};

struct ProviderPreset {
    std::string id;
    std::string name;  // shown in the settings dialog
    std::string base_url;
    std::string help;
};

// The dotted form of a key as setValue reads it: "ai/model" and "ai..model" are "ai.model".
std::string canonicalSettingKey(const std::string& key);

// Reads the settings file, applies `change` and writes the file back, with the
// settings lock held throughout, so two programs changing different keys at
// once lose neither change. A file that exists but cannot be read or parsed is
// left alone (writing would lose what it holds): false, with `error` naming
// the file and what is wrong with it. `change` returning false (with its own
// error) also leaves the file alone.
bool updateSettings(const std::function<bool(Settings&, std::string*)>& change, std::string* error = nullptr);

// The settings for a program that only reads them: a damaged file gives the
// defaults, and `warning` (when given) the line saying so; empty otherwise.
Settings settingsForReading(std::string* warning);

const std::vector<ProviderPreset>& providerPresets();
// Sets ai.provider and ai.base_url from the preset `id`; an unknown id changes nothing.
void applyProviderPreset(Settings& settings, const std::string& id);

// The settings folder: %APPDATA%\Netloom on Windows; $XDG_CONFIG_HOME/netloom
// (or ~/.config/netloom) elsewhere.
std::string settingsDir();
// NETLOOM_SETTINGS when set and not empty, otherwise settings.json in settingsDir().
std::string settingsPath();

}  // namespace nl
