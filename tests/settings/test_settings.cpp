#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "fixtures/run_netloom.h"
#include "settings/settings.h"

using namespace nl;
namespace fs = std::filesystem;
using nlohmann::json;

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
        for (const char* v : {"NETLOOM_SETTINGS", "XDG_CONFIG_HOME", "HOME"})
            saved_.emplace_back(v, std::getenv(v) ? std::getenv(v) : "\n");
        setenv("NETLOOM_SETTINGS", path_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) value == "\n" ? unsetenv(name) : setenv(name, value.c_str(), 1);
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    void write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string read() const { return nltest::slurp(path_); }
    Settings loaded(std::string* error) {
        Settings s;
        *error = "";
        s.load(error);
        return s;
    }
    size_t filesInDir() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

    fs::path dir_;
    std::string path_;
    std::string error_;
    std::vector<std::pair<const char*, std::string>> saved_;
};

}  // namespace

TEST_F(SettingsFile, ReadingKeepsWhatFitsAndTheListingIsSorted) {
    EXPECT_EQ(loaded(&error_).toJson(), Settings().toJson());
    EXPECT_EQ(error_, "no settings file yet");
    const auto flat = Settings().flat();
    for (size_t i = 1; i < flat.size(); ++i) EXPECT_LT(flat[i - 1].first, flat[i].first);

    write(R"({"ai": {"max_tokens": 99.9, "max_tool_rounds": -3.7, "timeout_sec": "60", "summary_items": true,
                     "temperature": 1, "tools_mode": 5, "disabled_tools": ["a", 1], "model": "qwen3"},
              "glow": true, "show_grid": 1, "detail_level": "full", "max_recent": 5000000000, "theme": "light",
              "recent": ["x", "y"], "font_scale": null, "erc": [true], "analysis": {"max_depth": 1e300},
              "unknown": {"deep": [1, 2]}})");
    std::string changed;
    for (const json& op : json::diff(Settings().toJson(), loaded(&error_).toJson()))
        changed += op["path"].get<std::string>() + "=" + op["value"].dump() + " ";
    EXPECT_EQ(changed, R"(/ai/max_tokens=99 /ai/max_tool_rounds=-3 /ai/model="qwen3" /ai/summary_items=1 )"
                       R"(/ai/temperature=1.0 /recent/-="x" /recent/-="y" /theme="light" )");
    EXPECT_EQ(error_, "");

    // Every key holding a value of some wrong type: nothing changes, nothing breaks.
    json hostile = Settings().toJson();
    for (auto& [name, value] : hostile.items()) {
        if (value.is_object())
            for (auto& [inner, v] : value.items()) v = v.is_string() ? json::array() : json("x");
        else
            value = value.is_string() ? json(nullptr) : json::object();
    }
    write(hostile.dump());
    EXPECT_EQ(loaded(&error_).toJson(), Settings().toJson());
}

TEST_F(SettingsFile, DamagedFilesKeepDefaultsAndStayOnDisk) {
    for (const std::string& text :
         {std::string("{\"theme\": \"light\",}"), std::string("// note\n{}"), std::string("{} {}"), std::string(""),
          std::string("{\"theme\": \"\xff\"}"), "{\"ai\":" + std::string(200000, '[')}) {
        write(text);
        EXPECT_EQ(loaded(&error_).theme, "dark");
        EXPECT_EQ(error_.rfind("settings.json is not valid JSON: ", 0), 0u) << error_;
        EXPECT_GT(error_.size(), 34u);
        EXPECT_EQ(read(), text);  // loading never rewrites a damaged file
    }
    // Nesting far deeper than any recursion could take, and megabytes of recent files.
    write(std::string(200000, '[') + std::string(200000, ']'));
    EXPECT_EQ(loaded(&error_).toJson(), Settings().toJson());
    EXPECT_EQ(error_, "");
    write(json{{"recent", std::vector<std::string>(60000, std::string(80, 'p'))}}.dump());
    EXPECT_EQ(loaded(&error_).recent.size(), 60000u);

    // A folder or an endless device where the file should be.
    fs::remove(path_);
    fs::create_directory(path_);
    EXPECT_EQ(loaded(&error_).theme, "dark");
    EXPECT_EQ(error_, "no settings file yet");
    setenv("NETLOOM_SETTINGS", "/dev/zero", 1);
    EXPECT_EQ(loaded(&error_).theme, "dark");
    EXPECT_EQ(error_.rfind("settings.json is not valid JSON: ", 0), 0u);
}

TEST_F(SettingsFile, SetValueProvidersAndRecentFiles) {
    // key, value, then where the value ends up and how it reads back
    const std::vector<std::array<std::string, 4>> accepted = {
        {"ai/temperature", "0.5", "/ai/temperature", "0.5"},
        {"ai..temperature", " 1e-1xyz", "/ai/temperature", "0.1"},
        {"show_grid", "Yes", "/show_grid", "true"},
        {"max_recent", "  -4", "/max_recent", "-4"},
        {"analysis.passthrough_prefixes", "R, C ,, Q", "/analysis/passthrough_prefixes", R"(["R","C","Q"])"},
        {"analysis.passthrough_prefixes", R"(["U", "X"])", "/analysis/passthrough_prefixes", R"(["U","X"])"},
        {"detail_level", "full", "/detail_level", R"("standard")"},
        {"ai", "whatever", "/ai/provider", R"("ollama")"},  // a whole section: accepted, nothing changes
    };
    Settings s;
    for (const auto& [key, value, where, expected] : accepted) {
        EXPECT_TRUE(s.setValue(key, value, &error_)) << key << ": " << error_;
        EXPECT_EQ(s.toJson()[json::json_pointer(where)].dump(), expected) << key << " = " << value;
    }
    const json before = s.toJson();
    const std::vector<std::array<std::string, 3>> refused = {
        {"ai.max_tokens", "99999999999", "bad value: stoi"},
        {"glow", "nan", "bad value: stod"},
        {"recent", "[1,", "bad value: [json.exception.parse_error"},
        {"./.", "x", "empty key"},
        {"colour", "red", "unknown setting 'colour' (run --settings to list them)"},
        {"ai.nothing.deeper", "x", "unknown setting section 'nothing'"},
    };
    for (const auto& [key, value, message] : refused) {
        EXPECT_FALSE(s.setValue(key, value, &error_)) << key;
        EXPECT_EQ(error_.substr(0, message.size()), message);
    }
    EXPECT_EQ(s.toJson(), before);

    s.ai.base_url = "http://mine:1/v1";
    EXPECT_TRUE(s.setValue("ai.provider", "universal"));
    EXPECT_EQ(s.ai.base_url, providerPresets()[2].base_url);
    s.ai.base_url = "http://mine:1/v1";
    EXPECT_TRUE(s.setValue("ai.provider", "myserver"));  // an unknown provider keeps the address
    applyProviderPreset(s, "Ollama");                    // ids match exactly
    EXPECT_EQ(s.ai.provider + " " + s.ai.base_url, "myserver http://mine:1/v1");

    s.max_recent = 3;
    for (const char* p : {"a", "b", "c", "b", "d"}) s.addRecent(p);
    EXPECT_EQ(s.recent, (std::vector<std::string>{"d", "b", "c"}));
    s.max_recent = -5;
    s.addRecent("z");
    EXPECT_TRUE(s.recent.empty());
}

TEST_F(SettingsFile, SaveRoundTripsAndReplacesAtomically) {
    Settings s;
    s.theme = "light";
    s.recent = {"/a/\xe4\xb8\xad.kicad_sch", "bad\xff"};
    ASSERT_TRUE(s.save(&error_)) << error_;
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::group_read, fs::perms::none);
    Settings back = loaded(&error_);
    EXPECT_EQ(error_, "");
    EXPECT_EQ(back.theme, "light");
    EXPECT_EQ(back.recent, (std::vector<std::string>{"/a/\xe4\xb8\xad.kicad_sch", "bad\xef\xbf\xbd"}));
    EXPECT_EQ(filesInDir(), 2u);  // no temporary file left behind

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
    const bool saved = huge.save(&error_);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(error_, "cannot write " + path_);
    EXPECT_EQ(read(), before);
    EXPECT_EQ(filesInDir(), 2u);

    fs::permissions(path_, fs::perms::owner_read);  // made read-only by the user: not replaced
    EXPECT_FALSE(s.save(&error_));
    EXPECT_EQ(read(), before);
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);

    const std::string link = (dir_ / "link.json").string();  // a link keeps pointing at its file
    fs::create_symlink(path_, link);
    setenv("NETLOOM_SETTINGS", link.c_str(), 1);
    s.theme = "blueprint";
    ASSERT_TRUE(s.save(&error_));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(loaded(&error_).theme, "blueprint");
}

TEST_F(SettingsFile, WhereTheFileLives) {
    EXPECT_EQ(settingsPath(), path_);
    setenv("NETLOOM_SETTINGS", "", 1);
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(settingsPath(), "/cfg/netloom/settings.json");
    setenv("XDG_CONFIG_HOME", "", 1);
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(settingsPath(), "/home/u/.config/netloom/settings.json");
}

TEST_F(SettingsFile, CommandLineSettingsAndSet) {
    const std::vector<std::string> env = {"NETLOOM_SETTINGS=" + nltest::shellQuote(path_),
                                          "XDG_CONFIG_HOME=" + nltest::shellQuote((dir_ / "config").string())};
    auto r = nltest::runNetloom({"--settings", "extra"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(0, 29), "ai.allow_view_changes = true\n");
    EXPECT_NE(r.out.find("\nai.api_key = \nai.base_url = http://127.0.0.1:11434/v1\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nai.disabled_tools = []\n"), std::string::npos);
    const std::string tail = "wire_width = 1.0\n\n(settings file: " + path_ + ")\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_FALSE(fs::exists(path_));

    r = nltest::runNetloom({"--set", "ai/temperature", "0.5"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ai/temperature = 0.5\n");
    EXPECT_EQ(loaded(&error_).ai.temperature, 0.5);
    fs::remove(path_);
    fs::create_directory(path_);
    r = nltest::runNetloom({"--set", "theme", "light"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error saving settings: cannot write " + path_ + "\n");
}
