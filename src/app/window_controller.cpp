#include "app/window_controller.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "analysis/lookup.h"
#include "analysis/overview.h"
#include "base/json_util.h"
#include "base/text.h"
#include "open/schematic_open.h"
#include "render/page_frame.h"
#include "render/svg_painter.h"
#include "render/theme.h"

namespace nl {

namespace {

using nlohmann::json;

constexpr double kWheelStep = 1.15;
constexpr double kMinWheelZoom = 0.15, kMaxWheelZoom = 80;
constexpr double kMinFitZoom = 0.2, kMaxFitZoom = 60;
constexpr double kPanStep = 0.1;  // of the canvas, per arrow key
constexpr double kFindArea = 60;  // mm: the least a find shows around its hit
constexpr int kMaxProposedName = 259;

const char* const kNoProvider =
    "No AI provider configured. Open Settings \u2192 AI to pick one (Ollama works fully offline).";
const char* const kTranscriptStart =
    "Ask about the schematic: nets, components, \"what's between R1 and U1\", \"check for errors\"...\n\n";

std::string plural(size_t n, const std::string& word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

std::string loadedStatus(const Schematic& s) {
    const std::string title = s.format == "kicad" ? resolveKicadEscapes(s.title) : s.title;
    std::string text = title + "  \u2014  " + std::to_string(s.components.size()) + " components, " +
                       std::to_string(s.nets.size()) + " nets";
    if (!s.warnings.empty()) text += "  (" + plural(s.warnings.size(), "load warning") + ")";
    return text;
}

bool validIndex(int i, size_t size) { return i >= 0 && static_cast<size_t>(i) < size; }

// At most `limit` bytes, never cutting a UTF-8 sequence.
std::string clipUtf8(const std::string& s, size_t limit) {
    if (s.size() <= limit) return s;
    size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xc0) == 0x80) --n;
    return s.substr(0, n);
}

// A file name made of a design text: separators and controls become '_'.
std::string fileNameFrom(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
    return name.empty() ? std::string("sheet") : name;
}

// Paths are UTF-8 everywhere in the program; the standard library reads a
// narrow string in the system's code page on Windows.
std::filesystem::path fsPath(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

std::string utf8Path(const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

json ints(const std::set<int32_t>& values) { return json(std::vector<int32_t>(values.begin(), values.end())); }

}  // namespace

// Public entry points hold one of these, so the shell hears about all changes
// of one user action at once, after the state is consistent.
struct WindowController::Batch {
    explicit Batch(WindowController& c) : c(c) { ++c.batch_depth_; }
    ~Batch() {
        if (--c.batch_depth_ == 0) c.flush();
    }
    WindowController& c;
};

// What one assistant turn works on: its own copy of the settings and its own
// tool context, so the window may open another design meanwhile.
struct WindowController::Turn {
    Settings settings;
    ToolContext tools;
};

WindowController::WindowController(WindowShell& shell, Settings settings, WindowOptions options)
    : shell_(shell), settings_(std::move(settings)), options_(std::move(options)) {
    trace_.open(options_.trace_path);
    highlight_.dim_others = settings_.dim_others;
    transcript_ = kTranscriptStart;
    status_base_ = status_shown_ = "Open a schematic to begin.";
    refreshInspector();
    pending_ = 0;
}

WindowController::~WindowController() { shutdown(); }

void WindowController::shutdown() {
    if (worker_.joinable()) worker_.join();
}

void WindowController::flush() {
    const unsigned what = pending_;
    pending_ = 0;
    if (what) shell_.changed(what);
}

// ---- start-up and loading

void WindowController::start(const std::vector<std::string>& args) {
    Batch batch(*this);
    if (args.size() < 2) return;
    const std::string& a = args[1];
    if (a == "--sample" || a == "sample") {
        showDesign(loadSampleSchematic());
    } else if (a.empty() || a[0] != '-') {
        shell_.setBusyCursor(true);
        std::string error;
        std::shared_ptr<Schematic> s = openSchematicFile(a, &error);
        shell_.setBusyCursor(false);
        if (s)
            showDesign(s);
        else
            setStatus("Could not open " + a + ": " + error);
    }
}

bool WindowController::openPath(const std::string& path, bool fromMenu) {
    std::error_code ec;
    std::string full = utf8Path(std::filesystem::absolute(fsPath(path), ec).lexically_normal());
    if (ec) full = path;
    shell_.setBusyCursor(true);
    std::string error;
    std::shared_ptr<Schematic> s = openSchematicFile(full, &error);
    shell_.setBusyCursor(false);
    if (!s) {
        if (fromMenu) shell_.showMessage("Error", "Could not open file:\n" + error, MessageIcon::Error);
        return false;
    }
    showDesign(s);
    return true;
}

void WindowController::showDesign(SchematicPtr s) {
    Batch batch(*this);
    if (!s) return;
    schematic_ = std::move(s);
    const Schematic& d = *schematic_;
    index_ = std::make_unique<SceneIndex>(d, settings_);
    sheet_paths_ = nl::sheetPaths(d);
    sheet_ = 0;
    hover_ = HitInfo{};
    pan_ = Pan{};
    find_text_.clear();
    find_ = FindResult{};
    resetHighlight(settings_.dim_others);
    if (d.path != kBuiltInName) {
        settings_.addRecent(d.path);
        saveSettings();
        mark(kChangedRecent);
    }
    fit();
    refreshInspector();
    runErcPane();
    setStatus(loadedStatus(d));
    trace_.write("document", {{"path", d.path},
                              {"title", d.title},
                              {"components", d.components.size()},
                              {"nets", d.nets.size()},
                              {"sheets", d.sheets.size()}});
    trace_.write("sheet", {{"sheet", sheet_}, {"path", sheetPath()}});
    highlightChanged();
    mark(kChangedCanvas | kChangedSheets);
}

bool WindowController::saveSettings(std::string* error) {
    if (options_.save_settings) return options_.save_settings(settings_, error);
    // A settings file that cannot be read still holds the user's key and server:
    // this session's settings are not worth losing those for.
    return updateSettings(
        [this](Settings& stored, std::string*) {
            stored = settings_;
            return true;
        },
        error);
}

// ---- status, tabs, inspector

void WindowController::setStatus(const std::string& text) {
    status_base_ = text;
    showStatus(text);
}

void WindowController::showStatus(const std::string& text) {
    if (text == status_shown_) return;
    status_shown_ = text;
    trace_.write("status", {{"text", text}});
    mark(kChangedStatus);
}

void WindowController::setTab(int tab) {
    if (tab < 0 || tab > 2) return;
    if (tab != tab_) trace_.write("tab", {{"tab", tab}, {"name", kTabNames[tab]}});
    tab_ = tab;
    // The shell shows the tab even when it was already selected there.
    mark(kChangedTab);
}

void WindowController::selectTab(int tab) {
    Batch batch(*this);
    if (tab == tab_) return;
    setTab(tab);
}

void WindowController::resetHighlight(bool dim_others) {
    highlight_ = Highlight{};
    highlight_.dim_others = dim_others;
}

void WindowController::highlightChanged() {
    json nets = json::array(), comps = json::array();
    if (schematic_) {
        for (int32_t n : highlight_.nets)
            if (validIndex(n, schematic_->nets.size())) nets.push_back(schematic_->nets[n].name);
        for (int32_t c : highlight_.components)
            if (validIndex(c, schematic_->components.size())) comps.push_back(schematic_->components[c].reference);
    }
    trace_.write("highlight", {{"nets", ints(highlight_.nets)},
                               {"net_names", nets},
                               {"components", ints(highlight_.components)},
                               {"references", comps},
                               {"pins", ints(highlight_.pins)},
                               {"dim_others", highlight_.dim_others}});
    mark(kChangedCanvas);
}

void WindowController::refreshInspector() {
    std::string text;
    if (!schematic_) {
        text = "Open a schematic to see details here.\n";
    } else {
        const Schematic& s = *schematic_;
        const std::string& detail = settings_.detail_level;
        int component = -1, net = -1;
        for (int32_t c : highlight_.components)
            if (validIndex(c, s.components.size())) {
                component = c;
                break;
            }
        for (int32_t n : highlight_.nets)
            if (validIndex(n, s.nets.size())) {
                net = n;
                break;
            }
        if (component >= 0)
            text = describeComponent(s, component, detail);
        else if (net >= 0)
            text = describeNet(s, net, detail);
        else
            text = schematicSummary(s, settings_.ai.summary_items);
    }
    if (text == inspector_) return;
    inspector_ = text;
    mark(kChangedInspector);
}

std::string WindowController::sheetPath() const {
    return validIndex(sheet_, sheet_paths_.size()) ? sheet_paths_[sheet_] : std::string();
}

bool WindowController::hasParentSheet() const {
    return schematic_ && validIndex(sheet_, schematic_->sheets.size()) &&
           validIndex(schematic_->sheets[sheet_].parent, schematic_->sheets.size());
}

std::vector<std::string> WindowController::recentFiles() const {
    std::vector<std::string> list = settings_.recent;
    list.resize(std::min(list.size(), static_cast<size_t>(std::max(0, settings_.max_recent))));
    return list;
}

// ---- the view

const Theme& WindowController::theme() const { return themeByName(settings_.theme); }

Color WindowController::background() const { return theme().background; }

const char* WindowController::invitationText() { return "File \u2192 Open Schematic\u2026 or try the demo"; }

Color WindowController::invitationColor() { return {200 / 255.0, 200 / 255.0, 200 / 255.0, 160 / 255.0}; }

void WindowController::resize(int width, int height) {
    Batch batch(*this);
    if (width == width_ && height == height_) return;
    width_ = std::max(0, width), height_ = std::max(0, height);
    // A design opened before the canvas had its size was fitted to a guess.
    if (fit_on_resize_ && schematic_ && width_ > 0 && height_ > 0) fit();
    mark(kChangedCanvas);
}

void WindowController::viewChanged() {
    trace_.write("view", {{"zoom", zoom_}, {"origin", {origin_x_, origin_y_}}, {"canvas", {width_, height_}}});
    mark(kChangedCanvas);
}

void WindowController::fitArea(const BBox& box) {
    const double w = std::max(width_, 100), h = std::max(height_, 100);
    const double dx = std::max(box.max_x - box.min_x, 1.0), dy = std::max(box.max_y - box.min_y, 1.0);
    zoom_ = std::clamp(std::min(w / dx, h / dy), kMinFitZoom, kMaxFitZoom);
    origin_x_ = box.min_x - (w / zoom_ - dx) / 2;
    origin_y_ = box.min_y - (h / zoom_ - dy) / 2;
    fit_on_resize_ = false;
    viewChanged();
}

void WindowController::fit() {
    if (!schematic_) return;
    fitArea(exportViewBox(*schematic_, sheet_, page_frame_));
    fit_on_resize_ = width_ <= 0 || height_ <= 0;
}

void WindowController::showSheet(int sheet, bool fitIt) {
    if (!schematic_ || !validIndex(sheet, schematic_->sheets.size())) return;
    if (sheet != sheet_) {
        sheet_ = sheet;
        hover_ = HitInfo{};
        trace_.write("sheet", {{"sheet", sheet_}, {"path", sheetPath()}});
        mark(kChangedSheets | kChangedCanvas);
    }
    if (fitIt) fit();
}

void WindowController::gotoSheet(int sheet) {
    Batch batch(*this);
    if (sheet != sheet_) showSheet(sheet, true);
}

void WindowController::paint(Painter& p) {
    if (!schematic_) return;
    const Theme& t = theme();
    RenderContext ctx;
    ctx.settings = &settings_;
    ctx.theme = &t;
    ctx.index = index_.get();
    const BBox visible{origin_x_, origin_y_, origin_x_ + width_ / zoom_, origin_y_ + height_ / zoom_};
    renderSheet(ctx, p, *schematic_, sheet_, visible, &highlight_);
    if (page_frame_) drawPageFrame(p, t, *schematic_, sheet_, sheetPageBox(*schematic_, sheet_));
    if (settings_.tooltips && (hover_.kind == "pin" || hover_.kind == "wire")) {
        p.noBrush();
        p.setPen(withAlpha(t.hover, 128 / 255.0), 0.25);
        p.drawCircle(hover_.position, 1.2 / zoom_ + 0.6);
    }
}

// ---- pointer

void WindowController::pointerMove(double x, double y) {
    Batch batch(*this);
    if (pan_.active) {
        origin_x_ = pan_.origin_x - (x - pan_.x) / zoom_;
        origin_y_ = pan_.origin_y - (y - pan_.y) / zoom_;
        mark(kChangedCanvas);
        return;
    }
    const bool names = settings_.show_net_names_on_hover;
    if (!schematic_ || !(settings_.tooltips || names)) return;
    const HitInfo hit = hitTest(*schematic_, sheet_, toSheet(x, y), tolerance(), settings_.font_scale, index_.get());
    // Two pins of one part are two items: the marker and the status follow the pin.
    if (hit.kind == hover_.kind && hit.index == hover_.index && hit.sub == hover_.sub) return;
    hover_ = hit;
    if (settings_.tooltips) mark(kChangedCanvas);
    if (names) hoverStatus();
}

void WindowController::hoverStatus() {
    const Schematic& s = *schematic_;
    auto netText = [&](int net) {
        if (!validIndex(net, s.nets.size())) return std::string("unconnected");
        return "Net: " + s.nets[net].name + "  (" + plural(s.nets[net].pins.size(), "pin") + ")";
    };
    const HitInfo& h = hover_;
    std::string text;
    if (h.kind == "pin" && validIndex(h.index, s.components.size()) &&
        validIndex(h.sub, s.components[h.index].pins.size())) {
        const Component& c = s.components[h.index];
        const Pin& p = c.pins[h.sub];
        text = "Pin " + c.reference + "." + p.number;
        if (!p.name.empty() && p.name != "~" && p.name != p.number) text += " (" + p.name + ")";
        text += "  \u2014  " + netText(p.net);
    } else if (h.kind == "wire" || h.kind == "label" || h.kind == "junction") {
        text = netText(h.net);
    } else if (h.kind == "component" && validIndex(h.index, s.components.size())) {
        text = "Component: " + s.components[h.index].reference + "  " + s.components[h.index].value;
    } else if (h.kind == "sheet_symbol" && validIndex(h.index, s.sheet_symbols.size())) {
        text = "Sheet: " + s.sheet_symbols[h.index].name + "  (double-click to enter)";
    }
    showStatus(text.empty() ? status_base_ : text);
}

void WindowController::pointerLeave() {
    Batch batch(*this);
    if (pan_.active || hover_.kind == "none") return;
    if (settings_.tooltips && (hover_.kind == "pin" || hover_.kind == "wire")) mark(kChangedCanvas);
    hover_ = HitInfo{};
    showStatus(status_base_);
}

void WindowController::buttonPress(int button, double x, double y, bool shift) {
    Batch batch(*this);
    if ((button == 1 && shift) || button == 2 || button == 3) {
        pan_ = {true, x, y, origin_x_, origin_y_};
        return;
    }
    if (button != 1 || !schematic_) return;
    const Schematic& s = *schematic_;
    const HitInfo hit = hitTest(s, sheet_, toSheet(x, y), tolerance(), settings_.font_scale, index_.get());
    resetHighlight(settings_.dim_others);
    if (hit.kind == "none") {
        setStatus("");
    } else if (hit.kind == "pin" || hit.kind == "wire" || hit.kind == "junction") {
        if (!validIndex(hit.net, s.nets.size())) {
            setStatus("Unconnected pin");
        } else {
            highlight_.nets.insert(hit.net);
            const Net& n = s.nets[hit.net];
            setStatus("Net: " + n.name + "  (" + std::to_string(n.pins.size()) + " pins)");
        }
    } else if (hit.kind == "component" && validIndex(hit.index, s.components.size())) {
        highlight_.components.insert(hit.index);
        setStatus("Component: " + s.components[hit.index].reference);
    }
    refreshInspector();
    highlightChanged();
}

void WindowController::buttonRelease(int button) {
    Batch batch(*this);
    if (!pan_.active || button < 1 || button > 3) return;
    pan_.active = false;
    viewChanged();
}

void WindowController::doubleClick(double x, double y) {
    Batch batch(*this);
    if (!schematic_ || pan_.active) return;
    const HitInfo hit = hitTest(*schematic_, sheet_, toSheet(x, y), tolerance(), settings_.font_scale, index_.get());
    if (hit.kind == "sheet_symbol" && validIndex(hit.index, schematic_->sheet_symbols.size()))
        showSheet(schematic_->sheet_symbols[hit.index].child, true);
}

void WindowController::wheel(int steps, double x, double y) {
    Batch batch(*this);
    if (steps == 0) return;
    // Each step is clamped on its own; the sheet point under the cursor stays put.
    const Point q = toSheet(x, y);
    for (int i = 0; i < std::abs(steps); ++i)
        zoom_ = std::clamp(steps > 0 ? zoom_ * kWheelStep : zoom_ / kWheelStep, kMinWheelZoom, kMaxWheelZoom);
    origin_x_ = q.x - x / zoom_;
    origin_y_ = q.y - y / zoom_;
    fit_on_resize_ = false;
    viewChanged();
}

// ---- commands

void WindowController::command(WindowCommand c) {
    Batch batch(*this);
    switch (c) {
        case WindowCommand::Open: {
            FileRequest r;
            r.title = "Open Schematic";
            r.filters = {{"Schematic Files", "*.kicad_sch;*.sch"}, {"All Files", "*.*"}};
            std::string path;
            if (shell_.chooseFile(r, path)) openPath(path, true);
            break;
        }
        case WindowCommand::OpenDemo:
            showDesign(loadSampleSchematic());
            break;
        case WindowCommand::ExportSvg:
            exportSvg();
            break;
        case WindowCommand::ExportPng:
            exportPng();
            break;
        case WindowCommand::ExportPdf:
            exportPdf();
            break;
        case WindowCommand::Fit:
            fit();
            break;
        case WindowCommand::ClearHighlight:
            resetHighlight(settings_.dim_others);
            refreshInspector();
            highlightChanged();
            break;
        case WindowCommand::RunErc:
            runErcPane();
            setTab(1);
            break;
        case WindowCommand::Settings:
            editSettings();
            break;
        case WindowCommand::ZoomIn:
        case WindowCommand::ZoomOut:
            wheel(c == WindowCommand::ZoomIn ? 1 : -1, std::max(width_, 1) / 2.0, std::max(height_, 1) / 2.0);
            break;
        case WindowCommand::PanLeft:
        case WindowCommand::PanRight:
        case WindowCommand::PanUp:
        case WindowCommand::PanDown: {
            const double dx = kPanStep * width_ / zoom_, dy = kPanStep * height_ / zoom_;
            if (c == WindowCommand::PanLeft) origin_x_ -= dx;
            if (c == WindowCommand::PanRight) origin_x_ += dx;
            if (c == WindowCommand::PanUp) origin_y_ -= dy;
            if (c == WindowCommand::PanDown) origin_y_ += dy;
            viewChanged();
            break;
        }
        case WindowCommand::ParentSheet:
            if (schematic_ && validIndex(sheet_, schematic_->sheets.size()))
                showSheet(schematic_->sheets[sheet_].parent, true);
            break;
        case WindowCommand::TogglePageFrame:
            page_frame_ = !page_frame_;
            trace_.write("frame", {{"on", page_frame_}});
            mark(kChangedCanvas);
            break;
    }
}

void WindowController::exportSvg() {
    if (!schematic_) return;
    const Schematic& s = *schematic_;
    FileRequest r;
    r.save = true;
    r.title = "Export SVG";
    const std::string name = validIndex(sheet_, s.sheets.size()) ? s.sheets[sheet_].name : std::string();
    r.proposed_name = clipUtf8(name + ".svg", kMaxProposedName);
    r.filters = {{"SVG Files", "*.svg"}};
    r.default_extension = "svg";
    std::string path;
    if (!shell_.chooseFile(r, path)) return;
    const bool emphasis = !highlight_.nets.empty() || !highlight_.components.empty();
    const std::string svg = renderSvg(s, sheet_, settings_, emphasis ? &highlight_ : nullptr, 2000, page_frame_);
    std::ofstream out(fsPath(path), std::ios::binary | std::ios::trunc);
    if (!out) return;  // skipped without a message
    out.write(svg.data(), static_cast<std::streamsize>(svg.size()));
    out.close();
    if (out) setStatus("Exported " + path);
}

void WindowController::exportPng() {
    if (!schematic_ || !options_.png) return;
    const Schematic& s = *schematic_;
    FileRequest r;
    r.save = true;
    r.title = "Export PNG";
    const std::string name = validIndex(sheet_, s.sheets.size()) ? s.sheets[sheet_].name : std::string();
    r.proposed_name = clipUtf8(fileNameFrom(name) + ".png", kMaxProposedName);
    r.filters = {{"PNG Images", "*.png"}};
    r.default_extension = "png";
    r.image_width = png_width_;
    std::string path;
    if (!shell_.chooseFile(r, path)) return;
    if (r.image_width > 0) png_width_ = r.image_width;
    const bool emphasis = !highlight_.nets.empty() || !highlight_.components.empty();
    std::string error;
    if (options_.png(s, sheet_, settings_, emphasis ? &highlight_ : nullptr, page_frame_, png_width_, path, &error))
        setStatus("Exported " + path);
    else
        shell_.showMessage("Error", "Could not export the image:\n" + error, MessageIcon::Error);
}

void WindowController::exportPdf() {
    if (!schematic_ || !options_.pdf) return;
    const Schematic& s = *schematic_;
    FileRequest r;
    r.save = true;
    r.title = "Export PDF";
    const std::string stem = s.path == kBuiltInName ? std::string("demo") : utf8Path(fsPath(s.path).stem());
    r.proposed_name = clipUtf8(fileNameFrom(stem) + ".pdf", kMaxProposedName);
    r.filters = {{"PDF Documents", "*.pdf"}};
    r.default_extension = "pdf";
    std::string path;
    if (!shell_.chooseFile(r, path)) return;
    const bool emphasis = !highlight_.nets.empty() || !highlight_.components.empty();
    std::string error;
    if (options_.pdf(s, settings_, emphasis ? &highlight_ : nullptr, path, &error))
        setStatus("Exported " + path + "  (" + plural(s.sheets.size(), "sheet") + ")");
    else
        shell_.showMessage("Error", "Could not export the document:\n" + error, MessageIcon::Error);
}

void WindowController::editSettings() {
    SettingsForm form = settingsFormFor(settings_);
    if (!shell_.editSettings(form)) return;
    applySettingsForm(form, settings_);
    if (std::string error; !saveSettings(&error))
        shell_.showMessage("Settings", "The new settings apply until the window closes, but were not saved:\n" + error,
                           MessageIcon::Warning);
    if (schematic_ && index_ && !index_->covers(settings_))
        index_ = std::make_unique<SceneIndex>(*schematic_, settings_);
    highlight_.dim_others = settings_.dim_others;
    trace_.write("settings", {{"theme", settings_.theme},
                              {"detail_level", settings_.detail_level},
                              {"provider", settings_.ai.provider},
                              {"base_url", settings_.ai.base_url}});
    refreshInspector();
    mark(kChangedCanvas);
}

void WindowController::openRecent(int index) {
    Batch batch(*this);
    const std::vector<std::string> list = recentFiles();
    if (!validIndex(index, list.size())) return;
    const std::string path = list[index];
    std::error_code ec;
    if (!std::filesystem::exists(fsPath(path), ec)) {
        std::erase(settings_.recent, path);
        saveSettings();
        mark(kChangedRecent);
        shell_.showMessage("Open Recent",
                           "The file no longer exists:\n" + path + "\n\nIt has been removed from the recent files.",
                           MessageIcon::Warning);
        return;
    }
    openPath(path, true);
}

void WindowController::openDropped(const std::string& path) {
    Batch batch(*this);
    openPath(path, true);
}

// ---- rule check

void WindowController::runErcPane() {
    erc_rows_.clear();
    erc_targets_.clear();
    erc_issues_.clear();
    if (schematic_) {
        ErcReport report = runProjectErc(*schematic_, settings_.erc);
        erc_issues_ = std::move(report.issues);
        for (const ErcIssue& i : erc_issues_) {
            const char* mark = i.severity == "error" ? "\u26d4 " : i.severity == "warning" ? "\u26a0 " : "\u2139 ";
            erc_rows_.push_back(mark + i.message);
            erc_targets_.push_back({i.net, i.component, i.sheet});
        }
        if (erc_issues_.empty()) {
            erc_rows_.push_back("\u2705 No issues found.");
            erc_targets_.push_back({-1, -1, 0});
        }
        // What the project's own rule settings hide is said in the last row, as --erc says it.
        if (std::string hidden = ercHiddenText(report); !hidden.empty()) {
            erc_rows_.push_back("\u2139 " + hidden);
            erc_targets_.push_back({-1, -1, -1});
        }
    }
    trace_.write("erc", {{"rows", erc_rows_.size()}, {"issues", erc_issues_.size()}});
    mark(kChangedErcRows);
}

void WindowController::activateErcRow(int row) {
    Batch batch(*this);
    if (!schematic_ || !validIndex(row, erc_targets_.size())) return;
    const ErcRowTarget t = erc_targets_[row];
    if (validIndex(t.sheet, schematic_->sheets.size()) && t.sheet != sheet_) showSheet(t.sheet, true);
    resetHighlight(settings_.dim_others);
    if (validIndex(t.net, schematic_->nets.size())) highlight_.nets.insert(t.net);
    if (validIndex(t.component, schematic_->components.size())) highlight_.components.insert(t.component);
    refreshInspector();
    highlightChanged();
}

// ---- find

void WindowController::find(const std::string& text, bool backwards) {
    Batch batch(*this);
    if (!schematic_) {
        setStatus("Open a schematic to search it.");
        return;
    }
    if (text != find_text_ || !find_.ok || find_.hits.empty()) {
        find_text_ = text;
        find_ = findInDesign(*schematic_, text, settings_.dim_others);
        find_pos_ = backwards ? static_cast<int>(find_.hits.size()) - 1 : 0;
    } else {
        const int n = static_cast<int>(find_.hits.size());
        find_pos_ = ((find_pos_ + (backwards ? -1 : 1)) % n + n) % n;
    }
    if (!find_.ok) {
        setStatus("Not found: " + find_.label);
        return;
    }
    if (find_.hits.empty()) {
        setStatus("Found " + find_.label + ", but it is drawn on no sheet");
        return;
    }
    const FindHit& hit = find_.hits[find_pos_];
    showSheet(hit.sheet, false);
    highlight_ = hit.highlight;
    BBox area = hit.area;
    const double cx = (area.min_x + area.max_x) / 2, cy = (area.min_y + area.max_y) / 2;
    const double hw = std::max((area.max_x - area.min_x) / 2 + 10, kFindArea / 2);
    const double hh = std::max((area.max_y - area.min_y) / 2 + 10, kFindArea / 2);
    fitArea({cx - hw, cy - hh, cx + hw, cy + hh});
    refreshInspector();
    highlightChanged();
    setStatus("Found " + find_.label + "  (" + std::to_string(find_pos_ + 1) + " of " +
              std::to_string(find_.hits.size()) + ", sheet " + sheetPath() + ")");
}

// ---- the assistant

void WindowController::appendEntry(const std::string& speaker, const std::string& text) {
    transcript_ += speaker + ": " + text + "\n\n";
    trace_.write("transcript", {{"speaker", speaker}, {"text", text}});
    mark(kChangedTranscript);
}

bool WindowController::send(const std::string& text) {
    Batch batch(*this);
    if (busy_.load() || text.empty()) return false;
    appendEntry("You", text);
    if (settings_.ai.base_url.empty()) {
        appendEntry("Error", kNoProvider);
        return true;
    }
    startTurn(text);
    return true;
}

void WindowController::push(UiEvent e) {
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        queue_.push_back(std::move(e));
    }
    shell_.wake();
}

void WindowController::startTurn(const std::string& text) {
    if (busy_.exchange(true)) return;
    trace_.write("busy", {{"busy", true}});
    mark(kChangedBusy);
    if (worker_.joinable()) worker_.join();

    auto turn = std::make_shared<Turn>();
    turn->settings = settings_;
    turn->tools.schematic = schematic_;
    turn->tools.settings = &turn->settings;
    Turn* t = turn.get();
    // Runs on the worker: the command carries the design its indices belong to.
    turn->tools.onView = [this, t](const ViewCommand& v) {
        push({"view", "", v.action, v.nets, v.components, v.sheet, t->tools.schematic});
    };
    ChatBackend backend = options_.chat;
    // A tool that opens another design (open_sample) opens it in the window too.
    backend.run_tool = [this, inner = options_.chat.run_tool](ToolContext& context, const std::string& name,
                                                              const std::string& arguments) {
        const SchematicPtr before = context.schematic;
        json result = inner ? inner(context, name, arguments) : runTool(context, name, arguments);
        if (context.schematic && context.schematic != before) push({"design", "", "", {}, {}, -1, context.schematic});
        return result;
    };
    worker_ = std::thread([this, turn, text, backend] {
        bool ended = false;
        auto onEvent = [this, &ended](const ChatEvent& e) {
            if (e.kind == "text") push({"text", e.text, "", {}, {}, -1, nullptr});
            if (e.kind == "error") push({"error", e.text, "", {}, {}, -1, nullptr});
            if (e.kind == "tool_call")
                push({"tool", "calling " + e.tool + "(" + dumpJson(e.args) + ")", "", {}, {}, -1, nullptr});
            if (e.kind == "done") push({"done", "", "", {}, {}, -1, nullptr});
            ended = ended || e.kind == "done" || e.kind == "error";
        };
        try {
            AiChat chat(turn->settings.ai, turn->tools, backend);
            chat.send(conversation_, text, onEvent);
        } catch (const std::exception& e) {
            onEvent({"error", std::string("The assistant failed: ") + e.what(), "", nullptr, nullptr});
        } catch (...) {
            onEvent({"error", "The assistant failed.", "", nullptr, nullptr});
        }
        // Whatever happened, the window gets its input back.
        if (!ended) push({"done", "", "", {}, {}, -1, nullptr});
    });
}

void WindowController::endTurn() {
    if (!busy_.exchange(false)) return;
    trace_.write("busy", {{"busy", false}});
    mark(kChangedBusy);
}

void WindowController::drainEvents() {
    Batch batch(*this);
    std::vector<UiEvent> events;
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        events.swap(queue_);
    }
    for (const UiEvent& e : events) {
        if (e.kind == "text") {
            appendEntry("AI", e.text);
        } else if (e.kind == "tool") {
            appendEntry("\U0001F527", e.text);
        } else if (e.kind == "error") {
            appendEntry("Error", e.text);
            endTurn();
        } else if (e.kind == "done") {
            endTurn();
        } else if (e.kind == "view") {
            applyView(e);
        } else if (e.kind == "design" && e.design) {
            showDesign(e.design);
        }
    }
}

void WindowController::applyView(const UiEvent& e) {
    // Indices belong to the design the assistant looked at; another one may be shown by now.
    if (!schematic_ || e.design != schematic_) return;
    const Schematic& s = *schematic_;
    if (e.action == "highlight_net") {
        resetHighlight(settings_.dim_others);
        for (int32_t n : e.nets)
            if (validIndex(n, s.nets.size())) highlight_.nets.insert(n);
    } else if (e.action == "highlight_component") {
        resetHighlight(false);
        for (int32_t c : e.components)
            if (validIndex(c, s.components.size())) highlight_.components.insert(c);
    } else if (e.action == "clear_highlight") {
        resetHighlight(settings_.dim_others);
    } else if (e.action == "goto_sheet") {
        if (e.sheet >= 0) showSheet(e.sheet, true);
        return;
    } else {
        return;
    }
    refreshInspector();
    highlightChanged();
}

}  // namespace nl
