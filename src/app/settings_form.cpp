#include "app/settings_form.h"

namespace nl {

const std::vector<std::string> kThemeChoices = {"dark", "light", "blueprint", "paper"};
const std::vector<std::string> kDensityChoices = {"minimal", "standard", "verbose"};
const std::vector<std::string> kToolModeChoices = {"auto (native, falls back to text)", "native tool calling",
                                                   "text-based (for models without tool support)"};

namespace {

bool validPreset(int index) { return index >= 0 && index < static_cast<int>(providerPresets().size()); }

}  // namespace

SettingsForm settingsFormFor(const Settings& s) {
    SettingsForm f;
    // Exact comparisons: a theme spelled "Dark" is not one of the lists' names and shows as paper.
    f.theme = s.theme == "dark" ? 0 : s.theme == "light" ? 1 : s.theme == "blueprint" ? 2 : 3;
    f.density = s.detail_level == "minimal" ? 0 : s.detail_level == "standard" ? 1 : 2;
    f.show_pin_numbers = s.show_pin_numbers;
    f.show_pin_names = s.show_pin_names;
    f.show_hidden_pins = s.show_hidden_pins;
    f.show_grid = s.show_grid;
    f.dim_others = s.dim_others;
    f.tooltips = s.tooltips;
    const std::vector<ProviderPreset>& presets = providerPresets();
    f.provider = 0;
    for (size_t i = 0; i < presets.size(); ++i)
        if (presets[i].id == s.ai.provider) f.provider = static_cast<int>(i);
    f.provider_help = presets.empty() ? std::string() : presets[f.provider].help;
    f.base_url = s.ai.base_url;
    f.api_key = s.ai.api_key;
    f.model = s.ai.model;
    f.tools_enabled = s.ai.tools_enabled;
    f.tools_mode = s.ai.tools_mode == "native" ? 1 : s.ai.tools_mode == "text" ? 2 : 0;
    f.extra_instructions = s.ai.extra_system_prompt;
    return f;
}

void chooseProvider(SettingsForm& form, int provider) {
    if (!validPreset(provider)) return;
    const std::vector<ProviderPreset>& presets = providerPresets();
    const bool followsPreset =
        form.base_url.empty() || (validPreset(form.provider) && form.base_url == presets[form.provider].base_url);
    form.provider = provider;
    form.provider_help = presets[provider].help;
    if (followsPreset) form.base_url = presets[provider].base_url;
}

void applySettingsForm(const SettingsForm& f, Settings& s) {
    s.theme = f.theme >= 0 && f.theme < 4 ? kThemeChoices[f.theme] : "dark";
    s.detail_level = f.density >= 0 && f.density < 3 ? kDensityChoices[f.density] : "standard";
    s.show_pin_numbers = f.show_pin_numbers;
    s.show_pin_names = f.show_pin_names;
    s.show_hidden_pins = f.show_hidden_pins;
    s.show_grid = f.show_grid;
    s.dim_others = f.dim_others;
    s.tooltips = f.tooltips;
    if (validPreset(f.provider)) s.ai.provider = providerPresets()[f.provider].id;
    s.ai.base_url = f.base_url;
    s.ai.api_key = f.api_key;
    s.ai.model = f.model;
    s.ai.tools_enabled = f.tools_enabled;
    s.ai.tools_mode = f.tools_mode == 1 ? "native" : f.tools_mode == 2 ? "text" : "auto";
    s.ai.extra_system_prompt = f.extra_instructions;
}

}  // namespace nl
