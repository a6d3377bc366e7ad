#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

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

    // A folder, an endless device or a pipe without a writer where the file
    // should be: refused at once, never read (or waited on).
    fs::remove(path_);
    fs::create_directory(path_);
    EXPECT_EQ(loaded(&error_).theme, "dark");
    EXPECT_EQ(error_, "settings.json cannot be read: is a folder");
    const std::string fifo = (dir_ / "pipe.json").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& device : {std::string("/dev/zero"), fifo}) {
        setenv("NETLOOM_SETTINGS", device.c_str(), 1);
        EXPECT_EQ(loaded(&error_).theme, "dark");
        EXPECT_EQ(error_, "settings.json cannot be read: not a regular file");
    }
}

TEST_F(SettingsFile, SetValueIsStrictAndProvidersAndRecentFiles) {
    // key, value, then where the value ends up and how it reads back
    const std::vector<std::array<std::string, 4>> accepted = {
        {"ai/temperature", "0.5", "/ai/temperature", "0.5"},
        {"ai..temperature", "1e-1", "/ai/temperature", "0.1"},
        {"show_grid", "true", "/show_grid", "true"},
        {"max_recent", "0", "/max_recent", "0"},
        {"ai.timeout_sec", "600", "/ai/timeout_sec", "600"},
        {"font_scale", "0.25", "/font_scale", "0.25"},
        {"theme", "blueprint", "/theme", R"("blueprint")"},
        {"highlight_color", "#00FF7f", "/highlight_color", R"("#00FF7f")"},
        {"ai.provider", "my own server", "/ai/provider", R"("my own server")"},
        {"analysis.passthrough_prefixes", "R, C ,, Q", "/analysis/passthrough_prefixes", R"(["R","C","Q"])"},
        {"analysis.passthrough_prefixes", R"(["U", "X"])", "/analysis/passthrough_prefixes", R"(["U","X"])"},
        {"ai.disabled_tools", "", "/ai/disabled_tools", "[]"},
    };
    Settings s;
    for (const auto& [key, value, where, expected] : accepted) {
        EXPECT_TRUE(s.setValue(key, value, &error_)) << key << ": " << error_;
        EXPECT_EQ(s.toJson()[json::json_pointer(where)].dump(), expected) << key << " = " << value;
    }
    // Each refusal names the key and what it takes, and changes nothing.
    const json before = s.toJson();
    const std::vector<std::array<std::string, 3>> refused = {
        {"show_grid", "Yes", "bad value 'Yes' for show_grid: it takes true or false"},
        {"show_grid", "1", "it takes true or false"},
        {"ai.timeout_sec", "0", "bad value '0' for ai.timeout_sec: it takes a whole number from 1 to 600"},
        {"ai.timeout_sec", "-5", "from 1 to 600"},
        {"ai.timeout_sec", "601", "from 1 to 600"},
        {"ai.max_tool_rounds", "51", "ai.max_tool_rounds: it takes a whole number from 1 to 50"},
        {"ai.max_tokens", "0", "from 1 to 1000000"},
        {"ai.max_tokens", "12abc", "a whole number"},
        {"ai.max_tokens", " 12", "a whole number"},
        {"ai.max_tokens", "1.5", "a whole number"},
        {"max_recent", "-4", "from 0 to 100"},
        {"font_scale", "4.01", "font_scale: it takes a number from 0.25 to 4"},
        {"font_scale", "nan", "a number from 0.25 to 4"},
        {"glow", "1e999", "a number from 0 to 50"},
        {"theme", "Dark", "theme: it takes one of dark, light, blueprint, paper"},
        {"detail_level", "full", "one of minimal, standard, verbose"},
        {"ai.tools_mode", "", "one of auto, native, text"},
        {"highlight_color", "yellow", "a colour such as #ffcc00"},
        {"recent", "[1,", "a JSON list of texts or texts separated by commas (parse error at line 1"},
        {"recent", "[1, 2]", "a JSON list of texts"},
        {"ai", "whatever", "'ai' is a section"},
        {"./.", "x", "empty key"},
        {"colour", "red", "unknown setting 'colour' (run --settings to list them)"},
        {"ai.nothing.deeper", "x", "unknown setting section 'nothing'"},
    };
    for (const auto& [key, value, message] : refused) {
        EXPECT_FALSE(s.setValue(key, value, &error_)) << key << " = " << value;
        EXPECT_NE(error_.find(message), std::string::npos) << error_;
    }
    EXPECT_EQ(s.toJson(), before);
    EXPECT_EQ(canonicalSettingKey("/ai//model/"), "ai.model");

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
    EXPECT_EQ(filesInDir(), 3u);  // the file, its lock and the settings folder: no temporary file

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
    EXPECT_EQ(error_, "cannot write " + path_ + ": File too large");
    EXPECT_EQ(read(), before);
    EXPECT_EQ(filesInDir(), 3u);

    fs::permissions(path_, fs::perms::owner_read);  // made read-only by the user: not replaced
    EXPECT_FALSE(s.save(&error_));
    EXPECT_EQ(error_, "cannot write " + path_ + ": the file is read-only");
    EXPECT_EQ(read(), before);
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A save killed half-way left its temporary file (holding the key): the
    // next save clears it away, and leaves files not of its making alone.
    std::ofstream(path_ + ".tmp-0123456789ab") << "{\"ai\": {\"api_key\": \"sk-old\"}}";
    std::ofstream(path_ + ".tmp-notmine") << "x";
    ASSERT_TRUE(s.save(&error_)) << error_;
    EXPECT_FALSE(fs::exists(path_ + ".tmp-0123456789ab"));
    EXPECT_TRUE(fs::exists(path_ + ".tmp-notmine"));
    // A file the user shared keeps its permissions; a new one is the owner's alone.
    EXPECT_NE(fs::status(path_).permissions() & fs::perms::group_read, fs::perms::none);

    const std::string link = (dir_ / "link.json").string();  // a link keeps pointing at its file
    fs::create_symlink(path_, link);
    setenv("NETLOOM_SETTINGS", link.c_str(), 1);
    s.theme = "blueprint";
    ASSERT_TRUE(s.save(&error_));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(loaded(&error_).theme, "blueprint");
    // A relative link, through a second link, to a file not made yet.
    fs::create_directory(dir_ / "dotfiles");
    fs::create_symlink("dotfiles/netloom.json", dir_ / "hop.json");
    fs::remove(link);
    fs::create_symlink("hop.json", link);
    ASSERT_TRUE(s.save(&error_)) << error_;
    EXPECT_TRUE(fs::is_symlink(link) && fs::is_symlink(dir_ / "hop.json"));
    EXPECT_EQ(nltest::slurp((dir_ / "dotfiles" / "netloom.json").string()), read());
    EXPECT_EQ(fs::status(dir_ / "dotfiles" / "netloom.json").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(SettingsFile, DamagedFileIsNeverOverwritten) {
    // One stray comma in a file that holds the key: a change must not replace it with defaults.
    const std::string damaged = "{\"ai\": {\"api_key\": \"sk-secret\", \"model\": \"m\",}}";
    write(damaged);
    bool called = false;
    EXPECT_FALSE(updateSettings(
        [&](Settings&, std::string*) {
            called = true;
            return true;
        },
        &error_));
    EXPECT_FALSE(called);
    EXPECT_EQ(error_.rfind("the settings file " + path_ + " is not valid JSON: parse error at line 1, column 46", 0),
              0u)
        << error_;
    EXPECT_EQ(read(), damaged);

    const std::vector<std::string> env = {"NETLOOM_SETTINGS=" + nltest::shellQuote(path_),
                                          "XDG_CONFIG_HOME=" + nltest::shellQuote((dir_ / "config").string())};
    auto r = nltest::runNetloom({"--set", "theme", "light"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Error: the settings file " + path_ + " is not valid JSON: parse error at line 1", 0), 0u)
        << r.err;
    EXPECT_EQ(read(), damaged);
    // Commands that only read the settings say so once and go on with the defaults.
    r = nltest::runNetloom({"--settings"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("Warning: the settings file " + path_ + " is not valid JSON", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_NE(r.out.find("\nai.api_key = \n"), std::string::npos);
    EXPECT_EQ(read(), damaged);
}

TEST_F(SettingsFile, ConcurrentChangesLoseNothing) {
    // Several programs changing different keys at once: every last value survives.
    const std::vector<std::string> env = {"NETLOOM_SETTINGS=" + nltest::shellQuote(path_),
                                          "XDG_CONFIG_HOME=" + nltest::shellQuote((dir_ / "config").string())};
    const std::vector<std::string> keys = {"ai.model", "ai.api_key", "theme", "ai.max_tokens", "glow", "show_grid"};
    const std::vector<std::vector<std::string>> values = {{"a", "b", "qwen3"},        {"k1", "k2", "sk-9"},
                                                          {"light", "paper", "dark"}, {"100", "200", "300"},
                                                          {"1.5", "2.5", "3.5"},      {"true", "false", "true"}};
    std::vector<std::thread> runs;
    std::atomic<int> failures{0};
    for (size_t k = 0; k < keys.size(); ++k)
        runs.emplace_back([&, k] {
            for (const std::string& v : values[k])
                if (nltest::runNetloom({"--set", keys[k], v}, env).status != 0) ++failures;
        });
    for (std::thread& t : runs) t.join();
    EXPECT_EQ(failures, 0);
    const Settings s = loaded(&error_);
    EXPECT_EQ(s.ai.model + s.ai.api_key + s.theme, "qwen3sk-9dark");
    EXPECT_EQ(s.ai.max_tokens, 300);
    EXPECT_EQ(s.glow, 3.5);
    EXPECT_TRUE(s.show_grid);
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
    auto r = nltest::runNetloom({"--settings"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(0, 29), "ai.allow_view_changes = true\n");
    EXPECT_NE(r.out.find("\nai.api_key = \nai.base_url = http://127.0.0.1:11434/v1\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nai.disabled_tools = []\n"), std::string::npos);
    const std::string tail = "wire_width = 1.0\n\n(settings file: " + path_ + ")\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_FALSE(fs::exists(path_));

    // The echo shows what is stored, and what else the change moved.
    r = nltest::runNetloom({"--set", "ai/temperature", "0.50"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ai.temperature = 0.5\n");
    EXPECT_EQ(loaded(&error_).ai.temperature, 0.5);
    r = nltest::runNetloom({"--set", "ai.provider", "universal"}, env);
    EXPECT_EQ(r.out, "ai.base_url = " + providerPresets()[2].base_url + "\nai.provider = universal\n");
    r = nltest::runNetloom({"--set", "ai.timeout_sec", "0"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: bad value '0' for ai.timeout_sec: it takes a whole number from 1 to 600\n");
    fs::remove(path_);
    fs::create_directory(path_);
    r = nltest::runNetloom({"--set", "theme", "light"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: the settings file " + path_ +
                         " cannot be read: is a folder; nothing was changed (repair or remove it first)\n");
}
