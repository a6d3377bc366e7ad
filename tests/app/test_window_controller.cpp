#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "analysis/erc.h"
#include "analysis/lookup.h"
#include "analysis/overview.h"
#include "app/window_controller.h"
#include "fixtures/fake_window_shell.h"
#include "fixtures/recording_painter.h"
#include "fixtures/run_netloom.h"
#include "fixtures/window_designs.h"
#include "open/schematic_open.h"
#include "render/page_frame.h"
#include "render/theme.h"

using namespace nl;
using nltest::FakeWindowShell;
namespace fs = std::filesystem;

namespace {

// A controller on a 1000 x 800 canvas whose settings saves are recorded.
struct Window {
    FakeWindowShell shell;
    std::vector<Settings> saved;
    std::unique_ptr<WindowController> c;

    explicit Window(Settings s = {}, WindowOptions o = {}) {
        o.save_settings = [this](const Settings& st, std::string*) { return saved.push_back(st), true; };
        c = std::make_unique<WindowController>(shell, std::move(s), std::move(o));
        c->resize(1000, 800);
        shell.take();
    }
    // The canvas pixel where a sheet point is shown.
    Point pixel(Point p) const { return {(p.x - c->originX()) * c->zoom(), (p.y - c->originY()) * c->zoom()}; }
    Point sheetPoint(double x, double y) const { return {x / c->zoom() + c->originX(), y / c->zoom() + c->originY()}; }
    void click(Point at) {
        const Point p = pixel(at);
        c->buttonPress(1, p.x, p.y, false);
        c->buttonRelease(1);
    }
    void hover(Point at) {
        const Point p = pixel(at);
        c->pointerMove(p.x, p.y);
    }
    std::set<int32_t> nets() const { return c->highlight().nets; }
    std::set<int32_t> parts() const { return c->highlight().components; }
};

struct TempDir {
    fs::path path;
    TempDir() {
        char name[] = "/tmp/netloom_window_XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

}  // namespace

TEST(WindowStart, ArgumentsChooseWhatOpens) {
    struct Case {
        std::vector<std::string> args;
        bool opens;
        std::string status;
    };
    const std::string missing = "/nonexistent/board.kicad_sch";
    const std::string demo = "555 LED Blinker \u2014 Netloom Demo  \u2014  12 components, 7 nets";
    const Case cases[] = {
        {{"netloom"}, false, "Open a schematic to begin."},
        {{"netloom", "sample"}, true, demo},
        {{"netloom", "--sample"}, true, demo},
        {{"netloom", "--gui", "sample"}, false, "Open a schematic to begin."},
        {{"netloom", "-x"}, false, "Open a schematic to begin."},
        {{"netloom", missing},
         false,
         "Could not open " + missing + ": Cannot read file: " + missing + " (No such file or directory)"},
    };
    for (const Case& k : cases) {
        Window w;
        w.c->start(k.args);
        SCOPED_TRACE(k.args.back());
        EXPECT_EQ(w.c->hasSchematic(), k.opens);
        EXPECT_EQ(w.c->statusText(), k.status);
        EXPECT_TRUE(w.saved.empty());  // the demo is never a recent file
        if (!k.opens) {
            EXPECT_EQ(w.c->inspectorText(), "Open a schematic to see details here.\n");
        }
    }
}

TEST(WindowStart, LoadingResetsTheWindowAndCountsWarnings) {
    Window w;
    auto s = nltest::twoSheetDesign();
    s->warnings = {"one"};
    w.c->showDesign(s);
    EXPECT_EQ(w.c->statusText(), "Test design  \u2014  2 components, 2 nets  (1 load warning)");
    EXPECT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved.back().recent, std::vector<std::string>{"/nowhere/test.kicad_sch"});
    EXPECT_EQ(w.c->sheetPaths(), (std::vector<std::string>{"/", "/child/"}));
    EXPECT_EQ(w.c->inspectorText(), schematicSummary(*s, Settings().ai.summary_items));

    w.c->gotoSheet(1);
    w.click({50, 46.19});
    ASSERT_FALSE(w.nets().empty());
    auto again = std::make_shared<Schematic>(*s);
    again->warnings = {"a", "b", "c"};
    w.c->showDesign(again);
    EXPECT_EQ(w.c->statusText(), "Test design  \u2014  2 components, 2 nets  (3 load warnings)");
    EXPECT_EQ(w.c->sheet(), 0);
    EXPECT_TRUE(w.nets().empty());
    EXPECT_EQ(w.c->recentFiles().size(), 1u);  // the same path once
}

TEST(WindowView, FitCentresTheSheetWithinTheZoomLimits) {
    struct Case {
        Point a, b;  // one wire: the sheet's whole content
        double zoom;
    };
    // A vertical line 1000 mm long has no width; its view box is only the margin wide.
    const Case cases[] = {
        {{10, 0}, {10, 1000}, 800.0 / 1120},
        {{0, 0}, {0.1, 0}, 60},   // tiny: the closest fit allowed
        {{0, 0}, {1e5, 0}, 0.2},  // huge: the farthest
        {{-20, 5}, {180, 5}, 1000.0 / 224},
    };
    for (const Case& k : cases) {
        nltest::WindowDesign d;
        d.sheet("Root", -1);
        d.wire(0, k.a, k.b, "");
        Window w;
        w.c->showDesign(d.done());
        EXPECT_NEAR(w.c->zoom(), k.zoom, 1e-9);
        const BBox box = sheetViewBox(*w.c->schematic(), 0);
        const Point centre = w.sheetPoint(500, 400);
        EXPECT_NEAR(centre.x, (box.min_x + box.max_x) / 2, 1e-6);
        EXPECT_NEAR(centre.y, (box.min_y + box.max_y) / 2, 1e-6);
    }

    // Opened before the canvas had a size: fitted again once it has one.
    FakeWindowShell shell;
    WindowController c(shell, Settings{});
    c.start({"netloom", "sample"});
    c.resize(1000, 800);
    const BBox box = sheetViewBox(*c.schematic(), 0);
    EXPECT_NEAR(c.zoom(), std::min(1000 / (box.max_x - box.min_x), 800 / (box.max_y - box.min_y)), 1e-9);
}

TEST(WindowView, ThePageFrameShowsThePaperAndIsNotSaved) {
    Window w;
    w.c->start({"netloom", "sample"});
    const Schematic& s = *w.c->schematic();
    auto texts = [&] {
        nl::testing::RecordingPainter p;
        w.c->paint(p);
        return p;
    };
    EXPECT_EQ(texts().text("Sheet: /").op, "");
    const double fitted = w.c->zoom();

    w.shell.take();
    w.c->command(WindowCommand::TogglePageFrame);
    EXPECT_TRUE(w.c->pageFrame());
    EXPECT_TRUE(w.shell.take() & kChangedCanvas);
    EXPECT_EQ(texts().text("Sheet: /").op, "text");
    // Fit now shows the whole sheet of paper, which is larger than the drawing on it.
    w.c->command(WindowCommand::Fit);
    const BBox page = sheetPageBox(s, 0);
    EXPECT_LT(w.c->zoom(), fitted);
    EXPECT_NEAR(std::min(1000 / (page.max_x - page.min_x), 800 / (page.max_y - page.min_y)), w.c->zoom(), 1e-9);
    EXPECT_TRUE(w.saved.empty());

    w.c->command(WindowCommand::TogglePageFrame);
    EXPECT_FALSE(w.c->pageFrame());
    EXPECT_EQ(texts().text("Sheet: /").op, "");
}

TEST(WindowView, WheelClampsAndKeepsThePointUnderTheCursor) {
    nltest::WindowDesign d;
    d.sheet("Root", -1);
    d.wire(0, {0, 0}, {0.1, 0}, "");
    Window w;
    w.c->showDesign(d.done());
    ASSERT_DOUBLE_EQ(w.c->zoom(), 60);
    const Point before = w.sheetPoint(123, 456);
    w.c->wheel(1, 123, 456);
    EXPECT_NEAR(w.c->zoom(), 69, 1e-9);
    w.c->wheel(10, 123, 456);
    EXPECT_DOUBLE_EQ(w.c->zoom(), 80);
    EXPECT_NEAR(w.sheetPoint(123, 456).x, before.x, 1e-9);
    EXPECT_NEAR(w.sheetPoint(123, 456).y, before.y, 1e-9);
    w.c->wheel(-200, 10, 20);
    EXPECT_DOUBLE_EQ(w.c->zoom(), 0.15);
    EXPECT_NEAR(w.sheetPoint(10, 20).x, before.x + (10 - 123) / 80.0, 1e-9);

    // Keyboard zoom is the wheel about the centre; panning moves by a tenth of the canvas.
    const Point centre = w.sheetPoint(500, 400);
    w.c->command(WindowCommand::ZoomIn);
    EXPECT_NEAR(w.c->zoom(), 0.15 * 1.15, 1e-12);
    EXPECT_NEAR(w.sheetPoint(500, 400).x, centre.x, 1e-9);
    const double x = w.c->originX();
    w.c->command(WindowCommand::PanRight);
    EXPECT_NEAR(w.c->originX(), x + 100 / w.c->zoom(), 1e-9);
}

TEST(WindowView, DraggingPansAndSuspendsHover) {
    Window w;
    w.c->start({"netloom", "sample"});
    const double x = w.c->originX(), y = w.c->originY(), z = w.c->zoom();
    for (auto [button, shift] : {std::pair{3, false}, {2, false}, {1, true}}) {
        w.c->buttonPress(button, 100, 100, shift);
        EXPECT_TRUE(w.c->panning());
        w.c->pointerMove(160, 70);
        EXPECT_NEAR(w.c->originX(), x - 60 / z, 1e-9);
        EXPECT_NEAR(w.c->originY(), y + 30 / z, 1e-9);
        w.c->buttonRelease(button);
        EXPECT_FALSE(w.c->panning());
        w.c->buttonPress(3, 160, 70, false);  // drag back
        w.c->pointerMove(100, 100);
        w.c->buttonRelease(3);
    }
    EXPECT_TRUE(w.nets().empty());  // a shift-drag is not a click
}

TEST(WindowPointer, HoverFollowsItemsAndRestoresTheStatus) {
    Window w;
    w.c->showDesign(nltest::twoSheetDesign());
    const Schematic& s = *w.c->schematic();
    const std::string loaded = w.c->statusText();
    w.shell.take();

    w.hover({50, 46.19});  // R1 pin 1
    EXPECT_EQ(w.c->statusText(), "Pin R1.1  \u2014  Net: SIG  (2 pins)");
    EXPECT_TRUE(w.shell.take() & kChangedCanvas);
    w.hover({50.2, 46.3});  // the same pin: no repaint
    EXPECT_FALSE(w.shell.take() & kChangedCanvas);

    nl::testing::RecordingPainter painter;
    w.c->paint(painter);
    const nl::testing::PaintCall marker = painter.calls.back();
    EXPECT_EQ(marker.op, "circle");
    EXPECT_NEAR(marker.radius, 1.2 / w.c->zoom() + 0.6, 1e-12);
    EXPECT_NEAR(marker.pen.a, 128 / 255.0, 1e-12);
    EXPECT_FALSE(marker.has_brush);
    EXPECT_NEAR(marker.points[0].y, s.components[0].pins[0].position.y, 1e-12);

    w.hover({50, 53.81});
    EXPECT_EQ(w.c->statusText(), "Pin R1.2  \u2014  unconnected");
    w.hover({50.5, 50});
    EXPECT_EQ(w.c->statusText(), "Component: R1  10k");
    w.hover({90, 45});
    EXPECT_EQ(w.c->statusText(), "Sheet: child  (double-click to enter)");
    w.c->pointerLeave();
    EXPECT_EQ(w.c->statusText(), loaded);

    // Without tooltips nothing is marked; without either setting hover does nothing.
    Settings quiet;
    quiet.tooltips = false;
    Window q(quiet);
    q.c->showDesign(nltest::twoSheetDesign());
    q.shell.take();
    q.hover({50, 46.19});
    EXPECT_FALSE(q.shell.take() & kChangedCanvas);
    EXPECT_EQ(q.c->statusText(), "Pin R1.1  \u2014  Net: SIG  (2 pins)");
    nl::testing::RecordingPainter plain;
    q.c->paint(plain);
    EXPECT_NE(plain.calls.back().op, "circle");
    quiet.show_net_names_on_hover = false;
    Window off(quiet);
    off.c->showDesign(nltest::twoSheetDesign());
    off.hover({50, 46.19});
    EXPECT_EQ(off.c->statusText(), "Test design  \u2014  2 components, 2 nets");
}

TEST(WindowPointer, ClicksHighlightSelectOrClear) {
    Window w;
    w.c->showDesign(nltest::twoSheetDesign());
    const Schematic& s = *w.c->schematic();
    const int sig = findNet(s, "SIG");

    w.click({60, 46.19});  // on the wire
    EXPECT_EQ(w.nets(), std::set<int32_t>{sig});
    EXPECT_EQ(w.c->statusText(), "Net: SIG  (2 pins)");
    EXPECT_EQ(w.c->inspectorText(), describeNet(s, sig, "standard"));
    EXPECT_TRUE(w.c->highlight().dim_others);

    w.click({50, 53.81});  // R1's open pin
    EXPECT_TRUE(w.nets().empty());
    EXPECT_EQ(w.c->statusText(), "Unconnected pin");

    w.click({50.5, 50});
    EXPECT_EQ(w.parts(), std::set<int32_t>{0});
    EXPECT_EQ(w.c->statusText(), "Component: R1");
    EXPECT_EQ(w.c->inspectorText(), describeComponent(s, 0, "standard"));

    w.click({10, 10});  // nothing there
    EXPECT_TRUE(w.parts().empty());
    EXPECT_EQ(w.c->statusText(), "");
    EXPECT_EQ(w.c->inspectorText(), schematicSummary(s, Settings().ai.summary_items));

    w.click({60, 46.19});
    w.c->command(WindowCommand::ClearHighlight);
    EXPECT_TRUE(w.nets().empty());
}

TEST(WindowSheets, EnteringLeavingAndTheSelector) {
    Window w;
    w.c->showDesign(nltest::twoSheetDesign());
    const Point symbol = w.pixel({90, 45});
    w.c->doubleClick(symbol.x, symbol.y);
    EXPECT_EQ(w.c->sheet(), 1);
    EXPECT_EQ(w.c->sheetPath(), "/child/");
    const BBox box = sheetViewBox(*w.c->schematic(), 1);
    EXPECT_NEAR(w.sheetPoint(500, 400).x, (box.min_x + box.max_x) / 2, 1e-6);  // fitted

    w.c->command(WindowCommand::ParentSheet);
    EXPECT_EQ(w.c->sheet(), 0);
    w.c->command(WindowCommand::ParentSheet);  // the root has no parent
    EXPECT_EQ(w.c->sheet(), 0);
    w.c->gotoSheet(7);
    EXPECT_EQ(w.c->sheet(), 0);
    w.c->gotoSheet(1);
    EXPECT_EQ(w.c->sheet(), 1);
}

TEST(WindowErc, RowsAndTheirActivation) {
    Window clean;
    clean.c->start({"netloom", "sample"});
    EXPECT_EQ(clean.c->ercRows(), std::vector<std::string>{"\u2705 No issues found."});
    clean.c->activateErcRow(0);
    EXPECT_EQ(clean.c->sheet(), 0);
    clean.c->activateErcRow(5);  // no such row
    clean.c->command(WindowCommand::RunErc);
    EXPECT_EQ(clean.c->tab(), 1);

    Window w;
    w.c->showDesign(nltest::twoSheetDesign());
    const Schematic& s = *w.c->schematic();
    const std::vector<ErcIssue> issues = runErc(s, Settings().erc);
    ASSERT_EQ(w.c->ercRows().size(), issues.size());
    int onChild = -1;
    for (size_t i = 0; i < issues.size(); ++i) {
        const char* mark = issues[i].severity == "error"     ? "\u26d4 "
                           : issues[i].severity == "warning" ? "\u26a0 "
                                                             : "\u2139 ";
        EXPECT_EQ(w.c->ercRows()[i], mark + issues[i].message);
        if (issues[i].sheet == 1 && onChild < 0) onChild = static_cast<int>(i);
    }
    ASSERT_GE(onChild, 0) << "the design should give an issue on its child sheet";
    w.c->activateErcRow(onChild);
    EXPECT_EQ(w.c->sheet(), 1);
    const ErcIssue& issue = issues[onChild];
    EXPECT_EQ(w.nets(), issue.net >= 0 ? std::set<int32_t>{issue.net} : std::set<int32_t>{});
    EXPECT_EQ(w.parts(), issue.component >= 0 ? std::set<int32_t>{issue.component} : std::set<int32_t>{});
}

TEST(WindowErc, TheProjectsHiddenIssuesAreCountedInTheLastRow) {
    Window w;
    w.c->start({"netloom", std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/erc/erc_project.kicad_sch"});
    ASSERT_TRUE(w.c->schematic());
    const ErcReport report = runProjectErc(*w.c->schematic(), Settings().erc);
    ASSERT_GT(report.hidden, 0) << "the fixture's project file should hide something";
    ASSERT_EQ(w.c->ercRows().size(), report.issues.size() + 1);
    EXPECT_EQ(w.c->ercRows().back(), "\u2139 " + ercHiddenText(report));
    const size_t last = w.c->ercRows().size() - 1;
    w.c->activateErcRow(static_cast<int>(last));  // a note, not a place: nothing to show
    EXPECT_TRUE(w.nets().empty() && w.parts().empty());
}

TEST(WindowFind, ReferencesPinsAndNetsStepThroughTheirHits) {
    Window w;
    w.c->showDesign(nltest::twoSheetDesign());
    const Schematic& s = *w.c->schematic();
    const int sig = findNet(s, "SIG");

    w.c->find("SIG", false);
    EXPECT_EQ(w.c->statusText(), "Found net SIG  (1 of 2, sheet /)");
    EXPECT_EQ(w.nets(), std::set<int32_t>{sig});
    w.c->find("SIG", false);
    EXPECT_EQ(w.c->sheet(), 1);
    EXPECT_EQ(w.c->statusText(), "Found net SIG  (2 of 2, sheet /child/)");
    w.c->find("SIG", false);  // wraps around
    EXPECT_EQ(w.c->sheet(), 0);
    w.c->find("SIG", true);
    EXPECT_EQ(w.c->sheet(), 1);

    w.c->find("c1", false);  // a reference, any case
    EXPECT_EQ(w.parts(), std::set<int32_t>{1});
    EXPECT_FALSE(w.c->highlight().dim_others);
    EXPECT_EQ(w.c->sheet(), 1);
    const Point centre = w.sheetPoint(500, 400);
    EXPECT_NEAR(centre.x, 50, 1e-6);  // zoomed to the part
    EXPECT_NEAR(centre.y, 50, 1e-6);

    w.c->find("C1.2", false);
    EXPECT_EQ(w.nets(), std::set<int32_t>{findNet(s, "GND")});
    EXPECT_EQ(w.c->highlight().pins, std::set<int32_t>{100001});

    w.c->find("R1.2", false);
    EXPECT_EQ(w.c->statusText(), "Not found: R1 pin 2 is not connected");
    w.c->find("nothing", false);
    EXPECT_EQ(w.c->statusText(), "Not found: 'nothing' is neither a component, a pin (REF.PIN) nor a net name");
}

TEST(WindowSettings, CloseAppliesAndSavesCancelKeepsEverything) {
    Window w;
    w.c->start({"netloom", "sample"});
    w.shell.settings_dialog = [](SettingsForm& f) {
        f.theme = 1, f.dim_others = false, f.density = 2;
        return false;  // the window's close box
    };
    w.c->command(WindowCommand::Settings);
    EXPECT_TRUE(w.saved.empty());
    EXPECT_EQ(w.c->settings().theme, "dark");

    w.shell.settings_dialog = [](SettingsForm& f) {
        EXPECT_EQ(f.theme, 0);
        f.theme = 1, f.dim_others = false, f.density = 2;
        return true;
    };
    w.shell.take();
    w.c->command(WindowCommand::Settings);
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved[0].theme, "light");
    EXPECT_FALSE(w.c->highlight().dim_others);
    EXPECT_TRUE(w.shell.take() & kChangedCanvas);
    const Color bg = themeByName("light").background;
    EXPECT_EQ(w.c->background().r, bg.r);

    // The new density reaches the Inspector at once.
    w.click(loadSampleSchematic()->components[0].position);
    EXPECT_EQ(w.c->inspectorText(), describeComponent(*w.c->schematic(), 0, "verbose"));
}

TEST(WindowSettings, ADamagedSettingsFileIsNeverReplaced) {
    // The file holds the user's key behind one stray comma: neither the
    // settings dialog nor the recent-files list may write defaults over it.
    TempDir dir;
    const std::string path = dir.file("settings.json");
    const std::string damaged = "{\"ai\": {\"api_key\": \"sk-secret\",}}";
    std::ofstream(path) << damaged;
    const char* old = std::getenv("NETLOOM_SETTINGS");
    const std::string saved = old ? old : "";
    setenv("NETLOOM_SETTINGS", path.c_str(), 1);
    std::string warning;
    const Settings start = settingsForReading(&warning);
    EXPECT_EQ(warning.rfind("Warning: the settings file " + path + " is not valid JSON", 0), 0u) << warning;
    EXPECT_EQ(start.ai.api_key, "");
    {
        FakeWindowShell shell;
        WindowController c(shell, start);
        c.resize(1000, 800);
        c.start({"netloom", std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/erc/erc_project.kicad_sch"});
        EXPECT_TRUE(c.schematic() && c.settings().recent.size() == 1u);
        shell.settings_dialog = [](SettingsForm& f) { return f.theme = 1, true; };
        c.command(WindowCommand::Settings);
        EXPECT_EQ(c.settings().theme, "light");  // applied for the session
        ASSERT_FALSE(shell.messages.empty());
        EXPECT_EQ(
            shell.messages.back().text.rfind("The new settings apply until the window closes, but were not saved:\n"
                                             "the settings file " +
                                                 path + " is not valid JSON",
                                             0),
            0u)
            << shell.messages.back().text;
    }
    EXPECT_EQ(nltest::slurp(path), damaged);
    old ? setenv("NETLOOM_SETTINGS", saved.c_str(), 1) : unsetenv("NETLOOM_SETTINGS");
}

TEST(WindowFiles, OpenRecentDropAndExports) {
    TempDir dir;
    const std::string design = dir.file("blinker.kicad_sch");
    fs::copy(std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/k6_root.kicad_sch", design);
    fs::copy(std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/k6_child.kicad_sch",
             dir.file("k6_child.kicad_sch"));

    Settings settings;
    settings.max_recent = 2;
    settings.recent = {dir.file("gone.kicad_sch"), "/a", "/b"};
    WindowOptions options;
    std::vector<int> widths;
    std::vector<bool> frames;
    options.png = [&](const Schematic&, int, const Settings&, const Highlight*, bool frame, int width,
                      const std::string& path, std::string* error) {
        widths.push_back(width);
        frames.push_back(frame);
        *error = "disk full";
        return path.find("ok") != std::string::npos;
    };
    Window w(settings, options);
    EXPECT_EQ(w.c->recentFiles(), (std::vector<std::string>{dir.file("gone.kicad_sch"), "/a"}));
    EXPECT_FALSE(w.c->canExportPdf());

    w.c->openRecent(0);
    ASSERT_EQ(w.shell.messages.size(), 1u);
    EXPECT_EQ(w.shell.messages[0].text, "The file no longer exists:\n" + dir.file("gone.kicad_sch") +
                                            "\n\nIt has been removed from the recent files.");
    EXPECT_EQ(w.c->recentFiles(), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(w.saved.size(), 1u);

    w.shell.file_answers = {dir.file("missing.sch")};
    w.c->command(WindowCommand::Open);
    EXPECT_EQ(w.shell.file_requests.back().filters[0].second, "*.kicad_sch;*.sch");
    EXPECT_EQ(w.shell.messages.back().text,
              "Could not open file:\nCannot read file: " + dir.file("missing.sch") + " (No such file or directory)");
    EXPECT_FALSE(w.c->hasSchematic());

    const std::string relative = fs::relative(design).string();
    w.c->openDropped(relative);
    ASSERT_TRUE(w.c->hasSchematic());
    EXPECT_EQ(w.c->recentFiles().front(), design);  // kept as an absolute path
    EXPECT_EQ(w.shell.busy_cursor_on, 2);
    EXPECT_EQ(w.shell.busy_cursor_off, 2);

    // SVG of the current sheet, with the highlight when there is one.
    w.c->find("C1", false);
    ASSERT_FALSE(w.parts().empty());
    w.shell.file_answers = {"", dir.file("out.svg")};
    w.c->command(WindowCommand::ExportSvg);  // cancelled
    EXPECT_FALSE(fs::exists(dir.file("out.svg")));
    w.c->command(WindowCommand::ExportSvg);
    EXPECT_EQ(w.shell.file_requests.back().proposed_name, w.c->schematic()->sheets[0].name + ".svg");
    EXPECT_EQ(w.c->statusText(), "Exported " + dir.file("out.svg"));
    EXPECT_NE(nltest::slurp(dir.file("out.svg")).find("<svg"), std::string::npos);
    w.shell.file_answers = {dir.file("no/such/dir/x.svg")};
    w.c->command(WindowCommand::ExportSvg);
    EXPECT_EQ(w.c->statusText(), "Exported " + dir.file("out.svg"));  // silently skipped

    // PNG at the width the user picked, remembered for the next export.
    w.shell.image_width_answer = 640;
    w.shell.file_answers = {dir.file("ok.png"), dir.file("fails.png")};
    w.c->command(WindowCommand::ExportPng);
    EXPECT_EQ(w.shell.file_requests.back().image_width, 640);
    w.shell.image_width_answer = 0;
    w.c->command(WindowCommand::ExportPng);
    EXPECT_EQ(w.shell.file_requests.back().image_width, 640);
    EXPECT_EQ(widths, (std::vector<int>{640, 640}));
    EXPECT_EQ(w.shell.messages.back().text, "Could not export the image:\ndisk full");

    // The page frame, once shown, is in the window's exports too.
    w.c->command(WindowCommand::TogglePageFrame);
    w.shell.file_answers = {dir.file("ok2.png"), dir.file("framed.svg")};
    w.c->command(WindowCommand::ExportPng);
    EXPECT_EQ(frames, (std::vector<bool>{false, false, true}));
    w.c->command(WindowCommand::ExportSvg);
    EXPECT_NE(nltest::slurp(dir.file("framed.svg")).find("Sheet: /"), std::string::npos);
    EXPECT_EQ(nltest::slurp(dir.file("out.svg")).find("Sheet: /"), std::string::npos);
}

TEST(WindowTrace, OneJsonLinePerChange) {
    TempDir dir;
    WindowOptions options;
    options.trace_path = dir.file("trace.jsonl");
    {
        Window w({}, options);
        w.c->start({"netloom", "sample"});
        w.c->selectTab(2);
        w.c->find("OUT", false);
    }
    std::ifstream in(options.trace_path);
    std::string line, events;
    nlohmann::json highlight;
    while (std::getline(in, line)) {
        const nlohmann::json j = nlohmann::json::parse(line);
        events += j["event"].get<std::string>() + " ";
        if (j["event"] == "highlight") highlight = j;
    }
    EXPECT_NE(events.find("document"), std::string::npos);
    EXPECT_NE(events.find("tab"), std::string::npos);
    EXPECT_NE(events.find("status"), std::string::npos);
    EXPECT_EQ(highlight["net_names"], nlohmann::json::array({"OUT"}));
}
