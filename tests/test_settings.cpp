#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>

#include "run_netloom.h"
#include "settings.h"

using namespace nl;
namespace fs = std::filesystem;

namespace {

// Points the settings file and folder into a fresh temporary folder and puts
// the environment back afterwards.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/netloom_settings_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        path_ = (dir_ / "settings.json").string();
        remember("NETLOOM_SETTINGS");
        remember("XDG_CONFIG_HOME");
        remember("HOME");
        setenv("NETLOOM_SETTINGS", path_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    void write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string read() const { return nltest::slurp(path_); }
    Settings loaded(std::string* error = nullptr) {
        Settings s;
        std::string e;
        s.load(&e);
        if (error) *error = e;
        return s;
    }
    size_t filesInDir() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

    fs::path dir_;
    std::string path_;

private:
    void remember(const std::string& name) {
        const char* v = std::getenv(name.c_str());
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string flatValue(const Settings& s, const std::string& key) {
    for (const auto& [k, v] : s.flat())
        if (k == key) return v;
    return "<missing>";
}

}  // namespace

TEST_F(SettingsFile, DefaultsAndFlatListing) {
    std::string error;
    Settings s = loaded(&error);
    EXPECT_EQ(error, "no settings file yet");
    EXPECT_EQ(s.toJson(), Settings().toJson());

    const auto flat = s.flat();
    ASSERT_EQ(flat.size(), 20u + 15u + 8u + 3u);
    for (size_t i = 1; i < flat.size(); ++i) EXPECT_LT(flat[i - 1].first, flat[i].first);
    EXPECT_EQ(flat.front().first, "ai.allow_view_changes");
    EXPECT_EQ(flat[15].first, "analysis.max_depth");
    EXPECT_EQ(flat.back(), std::make_pair(std::string("wire_width"), std::string("1.0")));
    const std::vector<std::pair<std::string, std::string>> samples = {
        {"glow", "7.0"},
        {"ai.temperature", "0.2"},
        {"ai.api_key", ""},
        {"ai.base_url", "http://127.0.0.1:11434/v1"},
        {"ai.disabled_tools", "[]"},
        {"analysis.passthrough_prefixes", R"(["R","C","L","D","F","FB","JP","TP","SW","RN","FL","T"])"},
        {"highlight_color", "#ffcc00"},
        {"max_recent", "10"},
        {"erc.single_pin", "true"},
    };
    for (const auto& [key, value] : samples) EXPECT_EQ(flatValue(s, key), value) << key;
}

TEST_F(SettingsFile, ReadingKeepsWhatDoesNotFit) {
    write(R"({"theme": "light", "ai": {"model": "qwen3"}})");
    Settings expected;
    expected.theme = "light";
    expected.ai.model = "qwen3";
    EXPECT_EQ(loaded().toJson(), expected.toJson());

    write(R"({"ai": {"max_tokens": 99.9, "max_tool_rounds": -3.7, "timeout_sec": "60", "summary_items": true,
                     "temperature": 1, "tools_mode": 5, "disabled_tools": ["a", 1]},
              "glow": true, "show_grid": 1, "detail_level": "full", "max_recent": 5000000000,
              "recent": ["x", "y"], "font_scale": null, "erc": [true], "analysis": {"max_depth": 1e300},
              "unknown": {"deep": [1, 2]}})");
    expected = Settings();
    expected.ai.max_tokens = 99;
    expected.ai.max_tool_rounds = -3;
    expected.ai.summary_items = 1;
    expected.ai.temperature = 1.0;
    expected.recent = {"x", "y"};
    std::string error;
    EXPECT_EQ(loaded(&error).toJson(), expected.toJson());
    EXPECT_EQ(error, "");

    // Every key holding a value of some wrong type: nothing changes, nothing breaks.
    nlohmann::json hostile = Settings().toJson();
    for (auto& [name, value] : hostile.items()) {
        if (value.is_object())
            for (auto& [inner, v] : value.items()) v = v.is_string() ? nlohmann::json::array() : nlohmann::json("x");
        else
            value = value.is_string() ? nlohmann::json(nullptr) : nlohmann::json::object();
    }
    write(hostile.dump());
    EXPECT_EQ(loaded().toJson(), Settings().toJson());
}

TEST_F(SettingsFile, DamagedFilesKeepDefaultsAndStayOnDisk) {
    for (const char* text : {"{\"theme\": \"light\",}", "// note\n{}", "{} {}", "", "{\"theme\": \"\xff\"}"}) {
        write(text);
        std::string error;
        EXPECT_EQ(loaded(&error).theme, "dark");
        EXPECT_EQ(error.rfind("settings.json is not valid JSON: ", 0), 0u) << error;
        EXPECT_GT(error.size(), 34u);
        EXPECT_EQ(read(), text);  // loading never rewrites a damaged file
    }

    // Nesting far deeper than any recursion could take.
    std::string error;
    write(std::string(200000, '[') + std::string(200000, ']'));
    EXPECT_EQ(loaded(&error).toJson(), Settings().toJson());
    EXPECT_EQ(error, "");
    write("{\"ai\":" + std::string(200000, '['));
    EXPECT_EQ(loaded(&error).theme, "dark");
    EXPECT_EQ(error.rfind("settings.json is not valid JSON: ", 0), 0u);

    // Several megabytes of recent files still load.
    write(nlohmann::json{{"recent", std::vector<std::string>(60000, std::string(80, 'p'))}}.dump());
    EXPECT_GT(fs::file_size(path_), 4u << 20);
    EXPECT_EQ(loaded(&error).recent.size(), 60000u);
    EXPECT_EQ(error, "");

    // A folder or an endless device where the file should be.
    fs::remove(path_);
    fs::create_directory(path_);
    EXPECT_EQ(loaded(&error).theme, "dark");
    EXPECT_EQ(error, "no settings file yet");
    setenv("NETLOOM_SETTINGS", "/dev/zero", 1);
    EXPECT_EQ(loaded(&error).theme, "dark");
    EXPECT_EQ(error.rfind("settings.json is not valid JSON: ", 0), 0u);
}

TEST_F(SettingsFile, SetValueConvertsByType) {
    // key, value, then the listed value of the key that it changes
    const std::vector<std::array<std::string, 4>> accepted = {
        {"ai/temperature", "0.5", "ai.temperature", "0.5"},
        {"ai..temperature", " 1e-1xyz", "ai.temperature", "0.1"},
        {"show_grid", "Yes", "show_grid", "true"},
        {"show_grid", "maybe", "show_grid", "false"},
        {"ai.max_tokens", "12abc", "ai.max_tokens", "12"},
        {"max_recent", "  -4", "max_recent", "-4"},
        {"analysis.passthrough_prefixes", "R, C ,, Q", "analysis.passthrough_prefixes", R"(["R","C","Q"])"},
        {"analysis.passthrough_prefixes", R"(["U", "X"])", "analysis.passthrough_prefixes", R"(["U","X"])"},
        {"analysis.passthrough_prefixes", "[1, 2]", "analysis.passthrough_prefixes", R"(["U","X"])"},
        {"ai.disabled_tools", "", "ai.disabled_tools", "[]"},
        {"detail_level", "verbose", "detail_level", "verbose"},
        {"detail_level", "full", "detail_level", "standard"},
        {"ai", "whatever", "ai.provider", "ollama"},  // a whole section: accepted, nothing changes
    };
    Settings s;
    for (const auto& [key, value, listed, expected] : accepted) {
        std::string error;
        EXPECT_TRUE(s.setValue(key, value, &error)) << key << ": " << error;
        EXPECT_EQ(flatValue(s, listed), expected) << key << " = " << value;
    }

    const nlohmann::json before = s.toJson();
    const std::vector<std::array<std::string, 3>> refused = {
        {"ai.max_tokens", "abc", "bad value: stoi"},
        {"ai.max_tokens", "99999999999", "bad value: stoi"},
        {"glow", "big", "bad value: stod"},
        {"glow", "1e999", "bad value: stod"},
        {"glow", "nan", "bad value: stod"},
        {"recent", "[1,", "bad value: [json.exception.parse_error"},
        {"", "x", "empty key"},
        {"./.", "x", "empty key"},
        {"colour", "red", "unknown setting 'colour' (run --settings to list them)"},
        {"theme.dark", "x", "unknown setting section 'theme'"},
        {"ai.nothing.deeper", "x", "unknown setting section 'nothing'"},
    };
    for (const auto& [key, value, message] : refused) {
        std::string error;
        EXPECT_FALSE(s.setValue(key, value, &error)) << key;
        EXPECT_EQ(error.substr(0, message.size()), message);
    }
    EXPECT_EQ(s.toJson(), before);
}

TEST_F(SettingsFile, ProviderPresetsAndRecentFiles) {
    const auto& presets = providerPresets();
    ASSERT_EQ(presets.size(), 4u);
    for (const ProviderPreset& p : presets) {
        EXPECT_EQ(p.base_url.rfind(p.id == "ollama" ? "http://127.0.0.1:" : "https://", 0), 0u) << p.id;
        EXPECT_EQ(p.base_url.substr(p.base_url.size() - 3), "/v1") << p.id;
    }
    EXPECT_NE(presets[1].base_url.find(".ovreth."), std::string::npos);
    EXPECT_NE(presets[2].base_url.find(".ovreth."), std::string::npos);

    Settings s;
    s.ai.base_url = "http://mine:1/v1";
    EXPECT_TRUE(s.setValue("ai.provider", "universal"));
    EXPECT_EQ(s.ai.base_url, presets[2].base_url);
    s.ai.base_url = "http://mine:1/v1";
    EXPECT_TRUE(s.setValue("ai.provider", "myserver"));
    EXPECT_EQ(s.ai.provider, "myserver");
    EXPECT_EQ(s.ai.base_url, "http://mine:1/v1");
    applyProviderPreset(s, "Ollama");  // ids match exactly
    EXPECT_EQ(s.ai.provider, "myserver");

    s.max_recent = 3;
    for (const char* p : {"a", "b", "c", "b", "d"}) s.addRecent(p);
    EXPECT_EQ(s.recent, (std::vector<std::string>{"d", "b", "c"}));
    s.recent = {"x", "a", "x"};
    s.addRecent("x");
    EXPECT_EQ(s.recent, (std::vector<std::string>{"x", "a"}));
    s.max_recent = 0;
    s.addRecent("y");
    EXPECT_TRUE(s.recent.empty());
    s.max_recent = -5;
    s.addRecent("z");
    EXPECT_TRUE(s.recent.empty());
}

TEST_F(SettingsFile, SaveRoundTripsAndReplacesAtomically) {
    Settings s;
    s.theme = "light";
    s.ai.api_key = "sk-1";
    s.recent = {"/a/\xe4\xb8\xad.kicad_sch", "bad\xff"};
    std::string error;
    ASSERT_TRUE(s.save(&error)) << error;
    EXPECT_TRUE(fs::is_directory(dir_ / "config" / "netloom"));  // created even with NETLOOM_SETTINGS set
    const std::string text = read();
    EXPECT_EQ(text.substr(0, 10), "{\n  \"ai\": ");
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::group_read, fs::perms::none);
    Settings back = loaded(&error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(back.theme, "light");
    EXPECT_EQ(back.recent[0], "/a/\xe4\xb8\xad.kicad_sch");
    EXPECT_EQ(back.recent[1], "bad\xef\xbf\xbd");  // invalid bytes replaced, never thrown
    EXPECT_EQ(filesInDir(), 2u);                   // no temporary file left behind

    // A disk that fills up mid-write: the save fails and the old file survives.
    Settings huge;
    huge.ai.extra_system_prompt.assign(1 << 20, 'x');
    const std::string before = read();
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = huge.save(&error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(error, "cannot write " + path_);
    EXPECT_EQ(read(), before);
    EXPECT_EQ(filesInDir(), 2u);

    // A file the user made read-only is not replaced.
    fs::permissions(path_, fs::perms::owner_read);
    EXPECT_FALSE(s.save(&error));
    EXPECT_EQ(read(), before);
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);

    // A symbolic link keeps pointing at the file it named.
    const std::string link = (dir_ / "link.json").string();
    fs::create_symlink(path_, link);
    setenv("NETLOOM_SETTINGS", link.c_str(), 1);
    s.theme = "blueprint";
    ASSERT_TRUE(s.save(&error));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(loaded().theme, "blueprint");

    const std::string missing = (dir_ / "no" / "such" / "settings.json").string();
    setenv("NETLOOM_SETTINGS", missing.c_str(), 1);
    EXPECT_FALSE(s.save(&error));
    EXPECT_EQ(error, "cannot write " + missing);
}

TEST_F(SettingsFile, ReadOnlyFolderLeavesFileAlone) {
    write("{\"theme\": \"light\"}");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    if (std::ofstream(dir_ / "probe")) GTEST_SKIP() << "running with rights that ignore read-only folders";
    std::string error;
    EXPECT_FALSE(Settings().save(&error));
    EXPECT_EQ(error, "cannot write " + path_);
    EXPECT_EQ(read(), "{\"theme\": \"light\"}");
}

TEST_F(SettingsFile, WhereTheFileLives) {
    EXPECT_EQ(settingsPath(), path_);
    setenv("NETLOOM_SETTINGS", "", 1);
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(settingsDir(), "/cfg/netloom");
    EXPECT_EQ(settingsPath(), "/cfg/netloom/settings.json");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(settingsPath(), "/home/u/.config/netloom/settings.json");
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(settingsDir(), "/home/u/.config/netloom");
}

TEST_F(SettingsFile, CommandLineSettingsAndSet) {
    const std::vector<std::string> env = {"NETLOOM_SETTINGS=" + nltest::shellQuote(path_),
                                          "XDG_CONFIG_HOME=" + nltest::shellQuote((dir_ / "config").string())};
    auto r = nltest::runNetloom({"--settings", "extra"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(0, 29), "ai.allow_view_changes = true\n");
    EXPECT_NE(r.out.find("\nai.api_key = \n"), std::string::npos);
    EXPECT_NE(r.out.find("\nglow = 7.0\n"), std::string::npos);
    const std::string tail = "wire_width = 1.0\n\n(settings file: " + path_ + ")\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_FALSE(fs::exists(path_));

    r = nltest::runNetloom({"--set", "ai/temperature", "0.5"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ai/temperature = 0.5\n");
    EXPECT_EQ(loaded().ai.temperature, 0.5);

    r = nltest::runNetloom({"--set", "colour", "red"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: unknown setting 'colour' (run --settings to list them)\n");

    fs::remove(path_);
    fs::create_directory(path_);
    r = nltest::runNetloom({"--set", "theme", "light"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error saving settings: cannot write " + path_ + "\n");
}
