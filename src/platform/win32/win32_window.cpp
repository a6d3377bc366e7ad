// The main window on Win32: menu, toolbar row, canvas, tabbed side panel and
// status line. Every handler here translates a window message into a
// controller call, and changed() copies what the controller reports back into
// the controls. The canvas draws with GDI+ into an off-screen bitmap.
#include "platform/win32/win32_window.h"

// First: it brings windows.h with the COM headers GDI+ needs.
#include "platform/win32/gdiplus_painter.h"
// clang-format off
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <windowsx.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/window_controller.h"
#include "base/std_output.h"
#include "platform/win32/console_output.h"
#include "platform/win32/dpi.h"
#include "platform/win32/settings_dialog.h"
#include "platform/win32/shell_rules.h"
#include "platform/win32/wide_text.h"

namespace nl::win32 {

namespace {

constexpr UINT kWakeMessage = WM_APP + 1;

// Control ids. 1001 to 1008 as the window has always had them; the rest are
// the toolbar row and the sheet path at the status line's end.
enum ControlId : int {
    kCanvasId = 1001,
    kTabsId = 1002,
    kInspectorId = 1003,
    kErcListId = 1004,
    kTranscriptId = 1005,
    kInputId = 1006,
    kSendId = 1007,
    kStatusId = 1008,
    kSheetsId = 1009,
    kUpId = 1010,
    kFindId = 1011,
    kLocationId = 1012,
    kSheetLabelId = 1013,
};

// Menu and accelerator commands.
enum CommandId : int {
    kOpen = 2001,
    kOpenDemo = 2002,
    kExportSvg = 2003,
    kQuit = 2004,
    kFit = 2005,
    kClearHighlight = 2006,
    kRunErc = 2007,
    kSettings = 2008,
    kExportPng = 2009,
    kExportPdf = 2010,
    kZoomIn = 2011,
    kZoomOut = 2012,
    kParentSheet = 2013,
    kFind = 2014,
    kPageFrame = 2015,
    kRecentFirst = 2100,  // up to kRecentFirst + 99
    kRecentNone = 2199,
};

constexpr wchar_t kMainClass[] = L"NetloomMain";
constexpr wchar_t kCanvasClass[] = L"NetloomCanvas";

std::wstring windowText(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

void place(HWND hwnd, const Box& b) { MoveWindow(hwnd, b.x, b.y, b.w, b.h, TRUE); }

class Win32Shell final : public WindowShell {
public:
    explicit Win32Shell(HINSTANCE instance) : instance_(instance) {}
    ~Win32Shell() override;

    bool create(WindowController& controller);
    int loop();
    void finish();

    void changed(unsigned what) override;
    void showMessage(const std::string& title, const std::string& text, MessageIcon icon) override;
    bool chooseFile(FileRequest& request, std::string& path) override;
    bool editSettings(SettingsForm& form) override;
    void setBusyCursor(bool busy) override;
    void wake() override;

    static LRESULT CALLBACK mainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK canvasProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK tabsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR);

private:
    HWND child(const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int id, HWND parent);
    HMENU buildMenu();
    void makeFonts();
    void layout();
    void traceLayout();
    void onCommand(int id, int code, HWND from);
    bool onKey(WPARAM key);
    void paintCanvas(HDC dc, int width, int height);
    void sendChat();
    void find(bool backwards);
    void updateSheets();
    void rebuildRecent();
    void updateTranscript();
    void mouse(UINT msg, WPARAM wp, LPARAM lp);
    int scale(int px) const { return scaled(px, dpi_); }

    HINSTANCE instance_;
    WindowController* c_ = nullptr;
    std::unique_ptr<GdiplusSession> gdiplus_;
    HWND main_ = nullptr, canvas_ = nullptr, tabs_ = nullptr;
    HWND inspector_ = nullptr, erc_ = nullptr, transcript_ = nullptr, input_ = nullptr, send_ = nullptr;
    HWND status_ = nullptr, location_ = nullptr, sheetLabel_ = nullptr, sheets_ = nullptr, up_ = nullptr,
         find_ = nullptr;
    HMENU menu_ = nullptr, recent_ = nullptr;
    HACCEL accel_ = nullptr;
    HFONT uiFont_ = nullptr, monoFont_ = nullptr;
    int dpi_ = 96;
    std::vector<std::string> shownSheets_;
    size_t transcriptShown_ = 0;
    std::atomic<bool> wakePending_{false};
    bool tracking_ = false;  // asked for WM_MOUSELEAVE
    int wheelRest_ = 0;      // wheel movement short of one step
    std::string lastLayout_;
};

Win32Shell* theShell = nullptr;  // the one window of the process, for the window procedures

Win32Shell::~Win32Shell() {
    if (uiFont_) DeleteObject(uiFont_);
    if (monoFont_) DeleteObject(monoFont_);
    if (accel_) DestroyAcceleratorTable(accel_);
}

// ---- building

HWND Win32Shell::child(const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int id, HWND parent) {
    HWND hwnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | style, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(id == kInspectorId ? monoFont_ : uiFont_), FALSE);
    return hwnd;
}

HMENU Win32Shell::buildMenu() {
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu(), view = CreatePopupMenu(), tools = CreatePopupMenu();
    recent_ = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, kOpen, L"&Open Schematic\u2026\tCtrl+O");
    AppendMenuW(file, MF_POPUP, reinterpret_cast<UINT_PTR>(recent_), L"Open &Recent");
    AppendMenuW(file, MF_STRING, kOpenDemo, L"Open &Demo Schematic");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, kExportSvg, L"&Export SVG\u2026\tCtrl+E");
    if (c_->canExportPng()) AppendMenuW(file, MF_STRING, kExportPng, L"Export &PNG\u2026");
    if (c_->canExportPdf()) AppendMenuW(file, MF_STRING, kExportPdf, L"Export P&DF\u2026");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, kQuit, L"&Quit\tCtrl+Q");
    AppendMenuW(view, MF_STRING, kFit, L"&Fit to Window\tHome");
    AppendMenuW(view, MF_STRING, kClearHighlight, L"&Clear Highlight\tEsc");
    AppendMenuW(view, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(view, MF_STRING, kZoomIn, L"Zoom &In\t+");
    AppendMenuW(view, MF_STRING, kZoomOut, L"Zoom &Out\t-");
    AppendMenuW(view, MF_STRING, kParentSheet, L"&Parent Sheet\tBackspace");
    AppendMenuW(view, MF_SEPARATOR, 0, nullptr);
    // Not saved: a page frame is for a look at the printed page, not a preference.
    AppendMenuW(view, MF_STRING | MF_UNCHECKED, kPageFrame, L"Page Fr&ame");
    AppendMenuW(view, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(view, MF_STRING, kFind, L"F&ind\u2026\tCtrl+F");
    AppendMenuW(tools, MF_STRING, kRunErc, L"Run &ERC\tF5");
    AppendMenuW(tools, MF_STRING, kSettings, L"&Settings\u2026\tCtrl+,");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(view), L"&View");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(tools), L"&Tools");
    return bar;
}

// The fonts for the current DPI. Controls that use the old ones are given the
// new ones first (WM_DPICHANGED); only then are the old ones deleted.
void Win32Shell::makeFonts() {
    HFONT oldUi = uiFont_, oldMono = monoFont_;
    const int ui = -MulDiv(9, dpi_, 72), mono = -scale(14);
    uiFont_ = CreateFontW(ui, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
    monoFont_ = CreateFontW(mono, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, FIXED_PITCH | FF_MODERN, L"Consolas");
    if (canvas_) {
        for (HWND w : {tabs_, erc_, transcript_, input_, send_, status_, location_, sheetLabel_, sheets_, up_, find_})
            SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont_), TRUE);
        SendMessageW(inspector_, WM_SETFONT, reinterpret_cast<WPARAM>(monoFont_), TRUE);
    }
    if (oldUi) DeleteObject(oldUi);
    if (oldMono) DeleteObject(oldMono);
}

bool Win32Shell::create(WindowController& controller) {
    c_ = &controller;
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    gdiplus_ = std::make_unique<GdiplusSession>();
    if (!gdiplus_->ok()) return false;

    HICON icon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = mainProc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kMainClass;
    wc.hIcon = icon;
    wc.hIconSm = icon;
    if (!RegisterClassExW(&wc)) return false;
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = canvasProc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursorW(nullptr, IDC_CROSS);
    wc.hbrBackground = nullptr;  // every pixel is painted from the off-screen bitmap
    wc.lpszClassName = kCanvasClass;
    if (!RegisterClassExW(&wc)) return false;

    menu_ = buildMenu();
    // 1400 x 900, but never larger than the work area: on a laptop the side
    // panel would open beyond the screen's edge.
    int width = 1400, height = 900;
    if (RECT area; SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        width = std::min<int>(width, (area.right - area.left) * 19 / 20);
        height = std::min<int>(height, (area.bottom - area.top) * 19 / 20);
    }
    main_ = CreateWindowExW(0, kMainClass, widen(kWindowTitle).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                            CW_USEDEFAULT, CW_USEDEFAULT, width, height, nullptr, menu_, instance_, nullptr);
    if (!main_) return false;
    dpi_ = windowDpi(main_);
    if (dpi_ != 96) {
        // Created at 96 DPI sizes; the monitor wants more.
        SetWindowPos(main_, nullptr, 0, 0, scale(1400), scale(900), SWP_NOMOVE | SWP_NOZORDER);
    }
    makeFonts();

    canvas_ = child(kCanvasClass, L"", WS_VISIBLE | WS_TABSTOP, WS_EX_CLIENTEDGE, kCanvasId, main_);
    // Its pages' controls are its children; it forwards their notifications (tabsProc) and
    // lets dialog navigation into them.
    tabs_ = child(WC_TABCONTROLW, L"", WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, WS_EX_CONTROLPARENT, kTabsId, main_);
    SetWindowSubclass(tabs_, tabsProc, 0, 0);
    for (int i = 0; i < 3; ++i) {
        std::wstring name = widen(kTabNames[i]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = name.data();
        TabCtrl_InsertItem(tabs_, i, &item);
    }
    inspector_ = child(WC_EDITW, L"", WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0,
                       kInspectorId, tabs_);
    erc_ = child(WC_LISTBOXW, L"", LBS_NOTIFY | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | WS_TABSTOP, 0, kErcListId, tabs_);
    transcript_ =
        child(WC_EDITW, L"", WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, kTranscriptId, tabs_);
    input_ = child(WC_EDITW, L"", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, kInputId, tabs_);
    send_ = child(WC_BUTTONW, L"Send", BS_PUSHBUTTON | WS_TABSTOP, 0, kSendId, tabs_);
    for (HWND edit : {inspector_, transcript_}) SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);

    sheetLabel_ = child(WC_STATICW, L"Sheet", WS_VISIBLE | SS_CENTERIMAGE | SS_NOPREFIX, 0, kSheetLabelId, main_);
    sheets_ = child(WC_COMBOBOXW, L"", WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, kSheetsId, main_);
    up_ = child(WC_BUTTONW, L"Up", WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, 0, kUpId, main_);
    find_ = child(WC_EDITW, L"", WS_VISIBLE | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, kFindId, main_);
    SendMessageW(find_, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Find: R1, U1.3, net name"));
    status_ = child(WC_STATICW, L"", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_CENTERIMAGE | SS_ENDELLIPSIS, 0,
                    kStatusId, main_);
    location_ = child(WC_STATICW, L"", WS_VISIBLE | SS_RIGHT | SS_NOPREFIX | SS_CENTERIMAGE, 0, kLocationId, main_);

    ACCEL keys[] = {
        {FCONTROL | FVIRTKEY, 'O', kOpen},
        {FCONTROL | FVIRTKEY, 'E', kExportSvg},
        {FCONTROL | FVIRTKEY, 'Q', kQuit},
        {FCONTROL | FVIRTKEY, 'F', kFind},
        {FCONTROL | FVIRTKEY, VK_OEM_COMMA, kSettings},
        {FVIRTKEY, VK_F5, kRunErc},
        {FALT | FVIRTKEY, VK_UP, kParentSheet},
    };
    accel_ = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));
    DragAcceptFiles(main_, TRUE);

    ShowWindow(main_, SW_SHOWDEFAULT);
    layout();
    TabCtrl_SetCurSel(tabs_, 0);
    layout();
    SetFocus(canvas_);
    changed(~0u);
    UpdateWindow(main_);
    return true;
}

// ---- layout

void Win32Shell::layout() {
    RECT client;
    GetClientRect(main_, &client);
    const MainLayout l = mainLayout(client.right, client.bottom, dpi_);
    place(canvas_, l.canvas);
    place(tabs_, l.tabs);
    place(status_, {l.status.x + scale(6), l.status.y, std::max(0, l.status.w - scale(6)), l.status.h});
    place(location_, {l.location.x, l.location.y, std::max(0, l.location.w - scale(6)), l.location.h});

    // The toolbar row: "Sheet", its list and Up on the left, Find on the right.
    const int row = l.toolbar.h, h = scale(24), y = (row - h) / 2;
    place(sheetLabel_, {scale(6), y, scale(40), h});
    // A drop-down list's height includes its open list.
    MoveWindow(sheets_, scale(50), y, scale(300), scale(300), TRUE);
    place(up_, {scale(356), y, scale(40), h});
    place(find_, {std::max(scale(400), l.toolbar.w - scale(250)), y, scale(240), h});

    RECT page{0, 0, l.tabs.w, l.tabs.h};
    TabCtrl_AdjustRect(tabs_, FALSE, &page);
    const PageLayout p = pageLayout({page.left, page.top, page.right - page.left, page.bottom - page.top}, dpi_);
    place(inspector_, p.inspector);
    place(erc_, p.erc);
    place(transcript_, p.transcript);
    place(input_, p.input);
    place(send_, p.send);
    const int tab = TabCtrl_GetCurSel(tabs_);
    ShowWindow(inspector_, tab == 0 ? SW_SHOW : SW_HIDE);
    ShowWindow(erc_, tab == 1 ? SW_SHOW : SW_HIDE);
    for (HWND w : {transcript_, input_, send_}) ShowWindow(w, tab == 2 ? SW_SHOW : SW_HIDE);
    traceLayout();
}

// Where the controls a script clicks on stand on the screen, for the state trace.
void Win32Shell::traceLayout() {
    if (!c_ || !c_->trace().on() || !IsWindowVisible(main_)) return;
    auto screen = [](HWND w) {
        if (!IsWindowVisible(w)) return nlohmann::json::array({0, 0, 0, 0});
        RECT r;
        GetWindowRect(w, &r);
        return nlohmann::json::array({r.left, r.top, r.right - r.left, r.bottom - r.top});
    };
    RECT cr;
    GetClientRect(canvas_, &cr);
    POINT origin{0, 0};
    ClientToScreen(canvas_, &origin);
    nlohmann::json tabs = nlohmann::json::array();
    for (int i = 0; i < 3; ++i) {
        RECT r{};
        TabCtrl_GetItemRect(tabs_, i, &r);
        MapWindowPoints(tabs_, nullptr, reinterpret_cast<POINT*>(&r), 2);
        tabs.push_back({r.left, r.top, r.right - r.left, r.bottom - r.top});
    }
    nlohmann::json layout = {{"canvas", {origin.x, origin.y, cr.right, cr.bottom}},
                             {"tabs", tabs},
                             {"erc_list", screen(erc_)},
                             {"input", screen(input_)},
                             {"send", screen(send_)},
                             {"find", screen(find_)},
                             {"sheets", screen(sheets_)},
                             {"status", screen(status_)}};
    const std::string text = layout.dump();
    if (text == lastLayout_) return;
    lastLayout_ = text;
    c_->trace().write("layout", layout);
}

// ---- what the controller reports

void Win32Shell::changed(unsigned what) {
    if (what & kChangedCanvas) InvalidateRect(canvas_, nullptr, FALSE);
    if (what & kChangedStatus) SetWindowTextW(status_, widen(c_->statusText()).c_str());
    if (what & kChangedInspector) SetWindowTextW(inspector_, widen(toCrlf(c_->inspectorText())).c_str());
    if (what & kChangedErcRows) {
        SendMessageW(erc_, WM_SETREDRAW, FALSE, 0);
        SendMessageW(erc_, LB_RESETCONTENT, 0, 0);
        for (const std::string& row : c_->ercRows())
            SendMessageW(erc_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(row).c_str()));
        SendMessageW(erc_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(erc_, nullptr, TRUE);
    }
    if (what & kChangedTranscript) updateTranscript();
    if (what & kChangedBusy) {
        const bool idle = !c_->busy();
        EnableWindow(input_, idle);
        EnableWindow(send_, idle);
        if (idle && TabCtrl_GetCurSel(tabs_) == 2) SetFocus(input_);
    }
    if (what & kChangedTab) {
        TabCtrl_SetCurSel(tabs_, c_->tab());
        layout();
    }
    if (what & kChangedSheets) updateSheets();
    if (what & kChangedRecent) rebuildRecent();
    const UINT designOnly = c_->hasSchematic() ? MF_ENABLED : MF_GRAYED;
    for (int id : {kExportSvg, kExportPng, kExportPdf}) EnableMenuItem(menu_, id, MF_BYCOMMAND | designOnly);
}

void Win32Shell::updateTranscript() {
    const std::string& text = c_->transcript();
    if (transcriptShown_ > text.size()) {
        SetWindowTextW(transcript_, L"");
        transcriptShown_ = 0;
    }
    const std::wstring added = widen(toCrlf(std::string_view(text).substr(transcriptShown_)));
    transcriptShown_ = text.size();
    const int end = GetWindowTextLengthW(transcript_);
    SendMessageW(transcript_, EM_SETSEL, end, end);
    SendMessageW(transcript_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
    SendMessageW(transcript_, EM_SCROLLCARET, 0, 0);
}

void Win32Shell::updateSheets() {
    if (c_->sheetPaths() != shownSheets_) {
        shownSheets_ = c_->sheetPaths();
        SendMessageW(sheets_, CB_RESETCONTENT, 0, 0);
        for (const std::string& path : shownSheets_)
            SendMessageW(sheets_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(path).c_str()));
    }
    SendMessageW(sheets_, CB_SETCURSEL, c_->hasSchematic() ? c_->sheet() : -1, 0);
    EnableWindow(sheets_, shownSheets_.size() > 1);
    EnableWindow(up_, c_->hasParentSheet());
    SetWindowTextW(location_, widen(c_->sheetPath()).c_str());
}

void Win32Shell::rebuildRecent() {
    while (GetMenuItemCount(recent_) > 0) DeleteMenu(recent_, 0, MF_BYPOSITION);
    const std::vector<std::string> files = c_->recentFiles();
    for (size_t i = 0; i < files.size() && i < 99; ++i) {
        const std::string label = "&" + std::to_string((i + 1) % 10) + "  " + menuText(files[i]);
        AppendMenuW(recent_, MF_STRING, kRecentFirst + i, widen(label).c_str());
    }
    if (files.empty()) AppendMenuW(recent_, MF_STRING | MF_GRAYED, kRecentNone, L"(none)");
}

// ---- requests

void Win32Shell::showMessage(const std::string& title, const std::string& text, MessageIcon icon) {
    const UINT type = icon == MessageIcon::Error     ? MB_ICONERROR
                      : icon == MessageIcon::Warning ? MB_ICONWARNING
                                                     : MB_ICONINFORMATION;
    c_->trace().write("message", {{"title", title}, {"text", text}});
    MessageBoxW(main_, widen(toCrlf(text)).c_str(), widen(title).c_str(), MB_OK | type);
}

bool Win32Shell::chooseFile(FileRequest& r, std::string& path) {
    // Label, pattern, label, pattern, each zero-ended, and one more zero at the end.
    std::wstring filters;
    for (const auto& [label, patterns] : r.filters) {
        filters += widen(label) + L'\0';
        filters += widen(patterns) + L'\0';
    }
    filters += L'\0';
    std::wstring name(MAX_PATH, L'\0');
    if (r.save) {
        const std::wstring proposed = widen(r.proposed_name).substr(0, MAX_PATH - 1);
        std::copy(proposed.begin(), proposed.end(), name.begin());
    }
    const std::wstring title = widen(r.title), extension = widen(r.default_extension);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = main_;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                (r.save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
    const BOOL ok = r.save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!ok) return false;
    path = narrow(name.c_str());
    return !path.empty();
}

bool Win32Shell::editSettings(SettingsForm& form) { return runSettingsDialog(instance_, main_, form); }

void Win32Shell::setBusyCursor(bool busy) { SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW)); }

void Win32Shell::wake() {
    if (!wakePending_.exchange(true)) PostMessageW(main_, kWakeMessage, 0, 0);
}

// ---- input

void Win32Shell::sendChat() {
    if (c_->send(narrow(windowText(input_)))) SetWindowTextW(input_, L"");
}

void Win32Shell::find(bool backwards) { c_->find(narrow(windowText(find_)), backwards); }

void Win32Shell::onCommand(int id, int code, HWND from) {
    if (from) {  // a control's notification
        if (id == kSendId && code == BN_CLICKED) sendChat();
        if (id == kUpId && code == BN_CLICKED) c_->command(WindowCommand::ParentSheet);
        if (id == kErcListId && code == LBN_DBLCLK)
            c_->activateErcRow(static_cast<int>(SendMessageW(erc_, LB_GETCURSEL, 0, 0)));
        if (id == kSheetsId && code == CBN_SELCHANGE)
            c_->gotoSheet(static_cast<int>(SendMessageW(sheets_, CB_GETCURSEL, 0, 0)));
        return;
    }
    switch (id) {
        // Enter and Escape, as the dialog manager (IsDialogMessageW) reports them.
        case IDOK: {
            HWND focus = GetFocus();
            if (focus == input_) sendChat();
            if (focus == find_) find(GetKeyState(VK_SHIFT) < 0);
            if (focus == erc_) c_->activateErcRow(static_cast<int>(SendMessageW(erc_, LB_GETCURSEL, 0, 0)));
            return;
        }
        case IDCANCEL:
            if (GetFocus() == find_)
                SetFocus(canvas_);
            else
                c_->command(WindowCommand::ClearHighlight);
            return;
        case kOpen:
            c_->command(WindowCommand::Open);
            return;
        case kOpenDemo:
            c_->command(WindowCommand::OpenDemo);
            return;
        case kExportSvg:
            c_->command(WindowCommand::ExportSvg);
            return;
        case kExportPng:
            c_->command(WindowCommand::ExportPng);
            return;
        case kExportPdf:
            c_->command(WindowCommand::ExportPdf);
            return;
        case kQuit:
            DestroyWindow(main_);
            return;
        case kFit:
            c_->command(WindowCommand::Fit);
            return;
        case kClearHighlight:
            c_->command(WindowCommand::ClearHighlight);
            return;
        case kRunErc:
            c_->command(WindowCommand::RunErc);
            return;
        case kSettings:
            c_->command(WindowCommand::Settings);
            return;
        case kZoomIn:
            c_->command(WindowCommand::ZoomIn);
            return;
        case kZoomOut:
            c_->command(WindowCommand::ZoomOut);
            return;
        case kParentSheet:
            c_->command(WindowCommand::ParentSheet);
            return;
        case kPageFrame:
            c_->command(WindowCommand::TogglePageFrame);
            CheckMenuItem(menu_, kPageFrame, MF_BYCOMMAND | (c_->pageFrame() ? MF_CHECKED : MF_UNCHECKED));
            return;
        case kFind:
            SetFocus(find_);
            SendMessageW(find_, EM_SETSEL, 0, -1);
            return;
        default:
            if (id >= kRecentFirst && id < kRecentNone) c_->openRecent(id - kRecentFirst);
    }
}

// Keys the canvas takes when it has the focus; true when used.
bool Win32Shell::onKey(WPARAM key) {
    switch (key) {
        case 'F':
        case VK_HOME:
            c_->command(WindowCommand::Fit);
            return true;
        case VK_ADD:
        case VK_OEM_PLUS:
            c_->command(WindowCommand::ZoomIn);
            return true;
        case VK_SUBTRACT:
        case VK_OEM_MINUS:
            c_->command(WindowCommand::ZoomOut);
            return true;
        case VK_BACK:
            c_->command(WindowCommand::ParentSheet);
            return true;
        case VK_LEFT:
            c_->command(WindowCommand::PanLeft);
            return true;
        case VK_RIGHT:
            c_->command(WindowCommand::PanRight);
            return true;
        case VK_UP:
            c_->command(WindowCommand::PanUp);
            return true;
        case VK_DOWN:
            c_->command(WindowCommand::PanDown);
            return true;
        default:
            return false;
    }
}

void Win32Shell::mouse(UINT msg, WPARAM wp, LPARAM lp) {
    const double x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
    switch (msg) {
        case WM_MOUSEMOVE:
            if (!tracking_) {
                TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, canvas_, 0};
                tracking_ = TrackMouseEvent(&t) != FALSE;
            }
            c_->pointerMove(x, y);
            break;
        case WM_LBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            SetFocus(canvas_);
            const int button = msg == WM_MBUTTONDOWN ? 2 : msg == WM_RBUTTONDOWN ? 3 : 1;
            c_->buttonPress(button, x, y, (wp & MK_SHIFT) != 0);
            if (c_->panning()) SetCapture(canvas_);
            if (msg == WM_LBUTTONDBLCLK) c_->doubleClick(x, y);
            break;
        }
        case WM_LBUTTONUP:
        case WM_MBUTTONUP:
        case WM_RBUTTONUP:
            c_->buttonRelease(msg == WM_MBUTTONUP ? 2 : msg == WM_RBUTTONUP ? 3 : 1);
            if (!c_->panning() && GetCapture() == canvas_) ReleaseCapture();
            break;
    }
}

// ---- the canvas

void Win32Shell::paintCanvas(HDC dc, int width, int height) {
    if (width <= 0 || height <= 0) return;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    {
        Gdiplus::Graphics g(memory);
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
        nl::paintCanvas(g, *c_);
        if (!c_->hasSchematic()) {
            const std::wstring text = widen(WindowController::invitationText());
            Gdiplus::Font font(L"Segoe UI", static_cast<Gdiplus::REAL>(scale(16)), Gdiplus::FontStyleRegular,
                               Gdiplus::UnitPixel);
            Gdiplus::StringFormat format;
            format.SetAlignment(Gdiplus::StringAlignmentCenter);
            format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
            Gdiplus::SolidBrush ink(Gdiplus::Color(toArgb(WindowController::invitationColor())));
            const Gdiplus::RectF band(0, static_cast<Gdiplus::REAL>(height / 2 - scale(20)),
                                      static_cast<Gdiplus::REAL>(width), static_cast<Gdiplus::REAL>(scale(40)));
            g.DrawString(text.c_str(), static_cast<INT>(text.size()), &font, band, &format, &ink);
        }
    }
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

LRESULT CALLBACK Win32Shell::canvasProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Win32Shell* self = theShell;
    if (!self || !self->c_) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT r;
            GetClientRect(hwnd, &r);
            self->paintCanvas(dc, r.right, r.bottom);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_SIZE:
            self->c_->resize(LOWORD(lp), HIWORD(lp));
            return 0;
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_LBUTTONUP:
        case WM_MBUTTONUP:
        case WM_RBUTTONUP:
            self->mouse(msg, wp, lp);
            return 0;
        case WM_MOUSELEAVE:
            self->tracking_ = false;
            self->c_->pointerLeave();
            return 0;
        case WM_CAPTURECHANGED:
            // Capture taken away mid-pan (a message box, Alt+Tab): the pan ends.
            if (self->c_->panning() && reinterpret_cast<HWND>(lp) != hwnd) self->c_->buttonRelease(1);
            return 0;
        case WM_MOUSEWHEEL: {
            POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};  // screen coordinates
            ScreenToClient(hwnd, &p);
            self->wheelRest_ += GET_WHEEL_DELTA_WPARAM(wp);
            const int steps = self->wheelRest_ / WHEEL_DELTA;
            self->wheelRest_ -= steps * WHEEL_DELTA;
            if (steps) self->c_->wheel(steps, p.x, p.y);
            return 0;
        }
        case WM_GETDLGCODE:
            // Arrows and characters are the canvas's; Tab, Enter and Escape stay with the dialog manager.
            return DLGC_WANTARROWS | DLGC_WANTCHARS;
        case WM_KEYDOWN:
            if (self->onKey(wp)) return 0;
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// The tab pages' controls are children of the tab control, so their
// notifications arrive here first; they go on to the main window.
LRESULT CALLBACK Win32Shell::tabsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    if (msg == WM_COMMAND && theShell) return SendMessageW(theShell->main_, msg, wp, lp);
    // Read-only edits are grey by default; the Inspector and the transcript are pages to read.
    if (msg == WM_CTLCOLORSTATIC && theShell) {
        const HWND from = reinterpret_cast<HWND>(lp);
        if (from == theShell->inspector_ || from == theShell->transcript_) {
            HDC dc = reinterpret_cast<HDC>(wp);
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Win32Shell::mainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Win32Shell* self = theShell;
    if (!self || !self->c_ || !self->tabs_) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_SIZE:
            self->layout();
            return 0;
        case WM_MOVE:
            self->traceLayout();
            return 0;
        case WM_NOTIFY: {
            const auto* n = reinterpret_cast<const NMHDR*>(lp);
            if (n->hwndFrom == self->tabs_ && n->code == TCN_SELCHANGE) {
                self->c_->selectTab(TabCtrl_GetCurSel(self->tabs_));
                self->layout();
            }
            return 0;
        }
        case WM_COMMAND:
            self->onCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
            return 0;
        case WM_DROPFILES: {
            HDROP drop = reinterpret_cast<HDROP>(wp);
            std::wstring name(static_cast<size_t>(DragQueryFileW(drop, 0, nullptr, 0)) + 1, L'\0');
            DragQueryFileW(drop, 0, name.data(), static_cast<UINT>(name.size()));
            DragFinish(drop);
            name.resize(name.size() - 1);
            if (!name.empty()) self->c_->openDropped(narrow(name));
            return 0;
        }
        case WM_DPICHANGED: {
            self->dpi_ = HIWORD(wp);
            self->makeFonts();
            const RECT* r = reinterpret_cast<const RECT*>(lp);
            SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            self->layout();
            return 0;
        }
        case kWakeMessage:
            self->wakePending_ = false;
            self->c_->drainEvents();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int Win32Shell::loop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // The wheel goes to the focused window; over the canvas it is the canvas's.
        if (msg.message == WM_MOUSEWHEEL) {
            POINT p{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
            if (WindowFromPoint(p) == canvas_) msg.hwnd = canvas_;
        }
        if (TranslateAcceleratorW(main_, accel_, &msg)) continue;
        if (IsDialogMessageW(main_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

void Win32Shell::finish() {
    c_->shutdown();
    if (IsWindow(main_)) DestroyWindow(main_);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    gdiplus_.reset();
}

}  // namespace

int runWindow(int argc, char** argv) {
    // Said while a console from which the program was started can still show it.
    std::string warning;
    Settings settings = settingsForReading(&warning);
    if (!warning.empty()) writeStd(StdStream::err, warning + "\n");
    releaseOwnConsole();
    WindowOptions options;
    // The image as the SVG export frames it, with the window's emphasis.
    options.png = [](const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight, bool frame,
                     int width, const std::string& path, std::string* error) {
        std::unique_ptr<Gdiplus::Bitmap> bitmap = renderSheetBitmap(s, sheet, settings, highlight, width, error, frame);
        return bitmap && writePng(*bitmap, path, error);
    };
    // No PDF writer on Windows yet; the menu then has no PDF entry.
    if (drawingWriters().pdf) {
        options.pdf = [](const Schematic& s, const Settings& settings, const Highlight*, const std::string& path,
                         std::string* error) {
            std::vector<int> sheets(s.sheets.size());
            for (size_t i = 0; i < sheets.size(); ++i) sheets[i] = static_cast<int>(i);
            return drawingWriters().pdf(s, sheets, settings, path, error);
        };
    }
    options.trace_path = environmentText(L"NETLOOM_UI_TRACE");

    auto shell = std::make_unique<Win32Shell>(GetModuleHandleW(nullptr));
    int status = 0;
    {
        WindowController controller(*shell, std::move(settings), std::move(options));
        theShell = shell.get();
        if (!shell->create(controller)) {
            MessageBoxW(nullptr, L"The window could not be created.", widen(kWindowTitle).c_str(), MB_ICONERROR);
            shell->finish();
            theShell = nullptr;
            return 1;
        }
        controller.start(std::vector<std::string>(argv, argv + argc));
        status = shell->loop();
        shell->finish();
        theShell = nullptr;
    }
    return status;
}

}  // namespace nl::win32
