// The settings dialog as data: what its controls show when it opens, how a
// provider choice moves the form, and what Close writes back. Each shell lays
// the controls out with its own toolkit and copies them in and out of this.
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"

namespace nl {

struct SettingsForm {
    int theme = 0;    // index into kThemeChoices
    int density = 1;  // index into kDensityChoices
    bool show_pin_numbers = true;
    bool show_pin_names = true;
    bool show_hidden_pins = false;
    bool show_grid = false;
    bool dim_others = true;
    bool tooltips = true;
    int provider = 0;           // index into providerPresets()
    std::string provider_help;  // the text under the provider list
    std::string base_url;
    std::string api_key;
    std::string model;
    bool tools_enabled = true;
    int tools_mode = 0;  // index into kToolModeChoices
    std::string extra_instructions;
};

// The list texts, in list order.
extern const std::vector<std::string> kThemeChoices;     // dark, light, blueprint, paper
extern const std::vector<std::string> kDensityChoices;   // minimal, standard, verbose
extern const std::vector<std::string> kToolModeChoices;  // auto, native, text, as the user reads them

// The control labels, so every shell words the dialog the same way.
struct SettingsLabels {
    static constexpr const char* title = "Settings";
    static constexpr const char* theme = "Theme";
    static constexpr const char* density = "Information density";
    static constexpr const char* pin_numbers = "Show pin numbers";
    static constexpr const char* pin_names = "Show pin names";
    static constexpr const char* hidden_pins = "Show hidden pins (power pins etc.)";
    static constexpr const char* grid = "Show grid";
    static constexpr const char* dim_others = "Dim everything except the highlighted trace";
    static constexpr const char* tooltips = "Show tooltips on hover";
    static constexpr const char* ai_section = "\u2014\u2014\u2014 AI \u2014\u2014\u2014";
    static constexpr const char* provider = "Provider";
    static constexpr const char* base_url = "Base URL";
    static constexpr const char* api_key = "API key";
    static constexpr const char* model = "Model";
    static constexpr const char* tools_enabled = "Give the AI tools to inspect and highlight the schematic";
    static constexpr const char* tools_mode = "Tool-calling mode";
    static constexpr const char* extra = "Extra instructions";
    static constexpr const char* close = "Close";
};

// The form as the dialog opens over these settings.
SettingsForm settingsFormFor(const Settings& settings);

// The user picked another provider: the help follows at once, and a Base URL
// that is empty or still the old preset's default becomes the new default.
// An index outside the preset table changes nothing.
void chooseProvider(SettingsForm& form, int provider);

// Close: the form's values into the settings (not saved here). A provider
// choice sets only the provider id; the URL is the Base URL field's.
void applySettingsForm(const SettingsForm& form, Settings& settings);

}  // namespace nl
