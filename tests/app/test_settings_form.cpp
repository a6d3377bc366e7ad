#include <gtest/gtest.h>

#include <functional>

#include "app/settings_form.h"

using namespace nl;

namespace {

// Opens the form over `s`, lets `edit` change it, closes it onto a copy of `s`.
Settings roundTrip(const Settings& s, const std::function<void(SettingsForm&)>& edit = {}) {
    SettingsForm f = settingsFormFor(s);
    if (edit) edit(f);
    Settings out = s;
    applySettingsForm(f, out);
    return out;
}

int presetIndex(const std::string& id) {
    for (size_t i = 0; i < providerPresets().size(); ++i)
        if (providerPresets()[i].id == id) return static_cast<int>(i);
    return -1;
}

}  // namespace

TEST(SettingsForm, OpeningSelectsByExactNamesAndCloseWritesThemBack) {
    struct Case {
        std::string theme, density, mode;
        int theme_row, density_row, mode_row;
        std::string theme_out, density_out, mode_out;
    };
    const Case cases[] = {
        {"dark", "minimal", "native", 0, 0, 1, "dark", "minimal", "native"},
        {"light", "standard", "text", 1, 1, 2, "light", "standard", "text"},
        {"blueprint", "verbose", "auto", 2, 2, 0, "blueprint", "verbose", "auto"},
        {"Dark", "Minimal", "Native", 3, 2, 0, "paper", "verbose", "auto"},  // comparisons are exact
        {"", "", "", 3, 2, 0, "paper", "verbose", "auto"},
    };
    for (const Case& k : cases) {
        Settings s;
        s.theme = k.theme, s.detail_level = k.density, s.ai.tools_mode = k.mode;
        const SettingsForm f = settingsFormFor(s);
        EXPECT_EQ(f.theme, k.theme_row) << k.theme;
        EXPECT_EQ(f.density, k.density_row) << k.density;
        EXPECT_EQ(f.tools_mode, k.mode_row) << k.mode;
        const Settings out = roundTrip(s);
        EXPECT_EQ(out.theme, k.theme_out);
        EXPECT_EQ(out.detail_level, k.density_out);
        EXPECT_EQ(out.ai.tools_mode, k.mode_out);
    }

    // Rows outside the lists fall back to dark and standard.
    const Settings odd = roundTrip(Settings{}, [](SettingsForm& f) { f.theme = 9, f.density = -1; });
    EXPECT_EQ(odd.theme, "dark");
    EXPECT_EQ(odd.detail_level, "standard");

    // Flags and texts go both ways untouched; keys the form does not show stay as they were.
    Settings s;
    s.show_grid = true, s.tooltips = false, s.ai.api_key = "k\u00e9y", s.ai.extra_system_prompt = "line 1\nline 2";
    s.glow = 3, s.recent = {"/x"};
    const Settings out = roundTrip(s, [](SettingsForm& f) { f.show_pin_names = false, f.model = "qwen3"; });
    EXPECT_TRUE(out.show_grid);
    EXPECT_FALSE(out.tooltips);
    EXPECT_FALSE(out.show_pin_names);
    EXPECT_EQ(out.ai.api_key, "k\u00e9y");
    EXPECT_EQ(out.ai.extra_system_prompt, "line 1\nline 2");
    EXPECT_EQ(out.ai.model, "qwen3");
    EXPECT_EQ(out.glow, 3);
    EXPECT_EQ(out.recent, std::vector<std::string>{"/x"});
}

TEST(SettingsForm, ProviderChoiceMovesHelpAndDefaultUrlOnly) {
    const std::vector<ProviderPreset>& presets = providerPresets();
    const int ollama = presetIndex("ollama"), custom = presetIndex("custom"), universal = presetIndex("universal");
    ASSERT_GE(ollama, 0);
    ASSERT_GE(custom, 0);
    ASSERT_GE(universal, 0);

    // An id outside the table selects the first preset; Close writes its id and keeps the typed URL.
    Settings mine;
    mine.ai.provider = "myserver", mine.ai.base_url = "http://box:8080/v1";
    SettingsForm f = settingsFormFor(mine);
    EXPECT_EQ(f.provider, 0);
    EXPECT_EQ(f.provider_help, presets[0].help);
    Settings out = roundTrip(mine);
    EXPECT_EQ(out.ai.provider, presets[0].id);
    EXPECT_EQ(out.ai.base_url, "http://box:8080/v1");

    // The URL still at the old preset's default follows the choice, and so does the help.
    f = settingsFormFor(Settings{});
    ASSERT_EQ(f.provider, ollama);
    chooseProvider(f, universal);
    EXPECT_EQ(f.base_url, presets[universal].base_url);
    EXPECT_EQ(f.provider_help, presets[universal].help);
    chooseProvider(f, custom);  // follows from the second preset too
    EXPECT_EQ(f.base_url, presets[custom].base_url);

    // A typed URL stays; an emptied one is filled in.
    f.base_url = "http://mine/v1";
    chooseProvider(f, ollama);
    EXPECT_EQ(f.base_url, "http://mine/v1");
    EXPECT_EQ(f.provider_help, presets[ollama].help);
    f.base_url = "";
    chooseProvider(f, custom);
    EXPECT_EQ(f.base_url, presets[custom].base_url);

    // A row outside the table changes nothing.
    const SettingsForm before = f;
    chooseProvider(f, -1);
    chooseProvider(f, static_cast<int>(presets.size()));
    EXPECT_EQ(f.provider, before.provider);
    EXPECT_EQ(f.base_url, before.base_url);
}
