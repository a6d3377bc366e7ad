// The desktop window without a windowing system: every behaviour of the window
// that is not a call into a toolkit. A shell (GTK on Linux, Win32 on Windows)
// builds the widgets, forwards what the user does to this controller, draws the
// canvas through it, and shows what it reports as changed. Everything here runs
// on the window thread except the chat worker, which reaches the window only
// through the locked event queue and WindowShell::wake.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analysis/erc.h"
#include "app/navigation.h"
#include "app/settings_form.h"
#include "app/ui_trace.h"
#include "assistant/ai_chat.h"
#include "model/model.h"
#include "render/render.h"
#include "render/scene_index.h"
#include "settings/settings.h"

namespace nl {

// What changed since the shell last heard; several are or-ed together.
enum WindowChange : unsigned {
    kChangedCanvas = 1u << 0,      // repaint the canvas
    kChangedStatus = 1u << 1,      // statusText()
    kChangedInspector = 1u << 2,   // inspectorText()
    kChangedErcRows = 1u << 3,     // ercRows()
    kChangedTranscript = 1u << 4,  // transcript() grew
    kChangedBusy = 1u << 5,        // busy(): the input and Send follow it
    kChangedTab = 1u << 6,         // tab()
    kChangedSheets = 1u << 7,      // sheetPaths(), sheet(), sheetPath()
    kChangedRecent = 1u << 8,      // recentFiles()
};

enum class WindowCommand {
    Open,
    OpenDemo,
    ExportSvg,
    ExportPng,
    ExportPdf,
    Fit,
    ClearHighlight,
    RunErc,
    Settings,
    ZoomIn,  // about the canvas centre
    ZoomOut,
    PanLeft,  // a tenth of the canvas
    PanRight,
    PanUp,
    PanDown,
    ParentSheet,
    TogglePageFrame,  // the paper's border and title block, for this session
};

enum class MessageIcon { Error, Warning, Info };

// A file dialog the controller needs answered.
struct FileRequest {
    bool save = false;
    std::string title;
    std::string proposed_name;                                 // save only
    std::vector<std::pair<std::string, std::string>> filters;  // (label, patterns joined by ';')
    std::string default_extension;                             // without the dot
    // More than 0: the shell also offers an image width, starting from this
    // one, and writes back the one chosen.
    int image_width = 0;
};

// The shell's side. Every call but wake() comes on the window thread.
class WindowShell {
public:
    virtual ~WindowShell() = default;
    // `what` is a set of WindowChange flags.
    virtual void changed(unsigned what) = 0;
    virtual void showMessage(const std::string& title, const std::string& text, MessageIcon icon) = 0;
    // True with `path` set when the user chose a file.
    virtual bool chooseFile(FileRequest& request, std::string& path) = 0;
    // Runs the settings dialog modally over `form`; true when the user pressed Close.
    virtual bool editSettings(SettingsForm& form) = 0;
    // A load of unknown length begins or ends.
    virtual void setBusyCursor(bool busy) = 0;
    // From any thread: call WindowController::drainEvents on the window thread soon.
    virtual void wake() = 0;
};

// PNG of one sheet, PDF of every sheet: the platform's drawing library writes them.
using PngExporter = std::function<bool(const Schematic&, int sheet, const Settings&, const Highlight*, bool frame,
                                       int width_px, const std::string& path, std::string* error)>;
using PdfExporter = std::function<bool(const Schematic&, const Settings&, const Highlight*, const std::string& path,
                                       std::string* error)>;

struct WindowOptions {
    ChatBackend chat;  // empty members: the real provider and tools
    PngExporter png;   // empty: the command is unavailable
    PdfExporter pdf;
    // Empty: the settings file is replaced under its lock, unless it is damaged.
    std::function<bool(const Settings&, std::string* error)> save_settings;
    std::string trace_path;  // empty: no state trace
};

// What the worker hands to the window thread.
struct UiEvent {
    std::string kind;  // "text", "tool", "error", "done", "view", or "design" (the assistant opened one)
    std::string text;
    std::string action;
    std::vector<int32_t> nets;
    std::vector<int32_t> components;
    int32_t sheet = -1;
    SchematicPtr design;  // "view": the design the indices belong to; "design": the new one
};

struct ErcRowTarget {
    int32_t net = -1;
    int32_t component = -1;
    int32_t sheet = -1;
};

inline const char* const kTabNames[3] = {"Inspector", "ERC", "AI Assistant"};
inline constexpr const char* kWindowTitle = "Netloom Studio";
inline constexpr const char* kBuiltInName = "<built-in sample>";

class WindowController {
public:
    WindowController(WindowShell& shell, Settings settings, WindowOptions options = {});
    // Joins the chat worker.
    ~WindowController();
    WindowController(const WindowController&) = delete;
    WindowController& operator=(const WindowController&) = delete;

    // The process's arguments, program name first: "sample" or "--sample"
    // opens the demo, a file name opens that file, anything else opens nothing.
    void start(const std::vector<std::string>& args);
    // Shows a design opened elsewhere, as every open ends: view, highlight,
    // Inspector, rule check and status start afresh; files go to the recent list.
    void showDesign(SchematicPtr design);

    // ---- what the shell shows
    bool hasSchematic() const { return schematic_ != nullptr; }
    const SchematicPtr& schematic() const { return schematic_; }
    const Settings& settings() const { return settings_; }
    const std::string& statusText() const { return status_shown_; }
    const std::string& inspectorText() const { return inspector_; }
    const std::vector<std::string>& ercRows() const { return erc_rows_; }
    const std::string& transcript() const { return transcript_; }
    bool busy() const { return busy_.load(); }
    int tab() const { return tab_; }
    int sheet() const { return sheet_; }
    const std::vector<std::string>& sheetPaths() const { return sheet_paths_; }
    // The current sheet's path; empty with nothing open.
    std::string sheetPath() const;
    // Whether ParentSheet has somewhere to go.
    bool hasParentSheet() const;
    // The recent files as the menu lists them: newest first, at most max_recent.
    std::vector<std::string> recentFiles() const;
    const Highlight& highlight() const { return highlight_; }
    double zoom() const { return zoom_; }
    double originX() const { return origin_x_; }
    double originY() const { return origin_y_; }
    bool panning() const { return pan_.active; }
    bool canExportPng() const { return static_cast<bool>(options_.png); }
    bool canExportPdf() const { return static_cast<bool>(options_.pdf); }
    // Whether the canvas, Fit and the SVG and PNG exports show the page frame.
    bool pageFrame() const { return page_frame_; }
    // The canvas colour, and with nothing open the invitation in its own colour.
    Color background() const;
    static const char* invitationText();
    static Color invitationColor();
    UiTrace& trace() { return trace_; }

    // Draws the sheet in millimetres: the shell has scaled by zoom() and
    // shifted by (-originX(), -originY()). Nothing when no design is open.
    void paint(Painter& painter);

    // ---- what happened (pixel coordinates on the canvas)
    void resize(int width, int height);
    void pointerMove(double x, double y);
    void pointerLeave();
    // button: 1 left, 2 middle, 3 right.
    void buttonPress(int button, double x, double y, bool shift);
    void buttonRelease(int button);
    void doubleClick(double x, double y);
    // Positive steps zoom in.
    void wheel(int steps, double x, double y);
    void command(WindowCommand command);
    void selectTab(int tab);
    void activateErcRow(int row);
    void gotoSheet(int sheet);
    void openRecent(int index);
    void openDropped(const std::string& path);
    // Ctrl+F's entry: a new text starts at its first hit, the same text steps on.
    void find(const std::string& text, bool backwards);
    // Send: true when the text was taken (the shell clears the input).
    bool send(const std::string& text);
    // Handles what the chat worker queued; call on the window thread after wake().
    void drainEvents();
    // Waits for a running assistant turn; the window is closing.
    void shutdown();

private:
    struct Batch;
    struct Turn;

    void mark(unsigned what) { pending_ |= what; }
    void flush();
    void setStatus(const std::string& text);
    void showStatus(const std::string& text);
    void setTab(int tab);
    void resetHighlight(bool dim_others);
    void highlightChanged();
    void refreshInspector();
    void runErcPane();
    void fit();
    void fitArea(const BBox& area);
    void viewChanged();
    void showSheet(int sheet, bool fitIt);
    bool openPath(const std::string& path, bool fromMenu);
    bool saveSettings(std::string* error = nullptr);
    void appendEntry(const std::string& speaker, const std::string& text);
    void endTurn();
    void applyView(const UiEvent& e);
    void push(UiEvent e);
    void startTurn(const std::string& text);
    void hoverStatus();
    void exportSvg();
    void exportPng();
    void exportPdf();
    void editSettings();
    Point toSheet(double x, double y) const { return {x / zoom_ + origin_x_, y / zoom_ + origin_y_}; }
    double tolerance() const { return 2.2 / zoom_ + 0.5; }
    const Theme& theme() const;

    WindowShell& shell_;
    Settings settings_;
    WindowOptions options_;
    UiTrace trace_;
    unsigned pending_ = 0;
    int batch_depth_ = 0;

    SchematicPtr schematic_;
    std::unique_ptr<SceneIndex> index_;
    std::vector<std::string> sheet_paths_;
    int sheet_ = 0;
    double origin_x_ = 0, origin_y_ = 0, zoom_ = 1;
    int width_ = 0, height_ = 0;
    bool fit_on_resize_ = false;  // the last fit guessed the canvas size
    Highlight highlight_;
    HitInfo hover_;

    struct Pan {
        bool active = false;
        double x = 0, y = 0, origin_x = 0, origin_y = 0;
    } pan_;

    std::string status_base_;   // the last status an action set
    std::string status_shown_;  // what the bar shows: that, or the hover's text
    std::string inspector_;
    int tab_ = 0;

    std::vector<ErcIssue> erc_issues_;
    std::vector<std::string> erc_rows_;
    std::vector<ErcRowTarget> erc_targets_;

    std::string find_text_;
    FindResult find_;
    int find_pos_ = -1;
    int png_width_ = 2000;
    bool page_frame_ = false;

    // The chat: the conversation belongs to the worker while busy_ is set.
    std::string transcript_;
    std::vector<ChatMessage> conversation_;
    std::thread worker_;
    std::atomic<bool> busy_{false};
    std::mutex queue_mutex_;
    std::vector<UiEvent> queue_;
};

}  // namespace nl
