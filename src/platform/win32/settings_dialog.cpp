// The settings dialog comes from an in-memory template with no items, and its
// controls are made when it starts, at fixed positions in its client area
// (pixels at 96 DPI, scaled to the monitor).
#include "platform/win32/settings_dialog.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win32/dpi.h"
#include "platform/win32/shell_rules.h"
#include "platform/win32/wide_text.h"
#include "settings/settings.h"

namespace nl::win32 {

namespace {

enum Item : int {
    kThemeLabel,
    kTheme,
    kDensityLabel,
    kDensity,
    kPinNumbers,
    kPinNames,
    kHiddenPins,
    kGrid,
    kDimOthers,
    kTooltips,
    kAiSection,
    kProviderLabel,
    kProvider,
    kProviderHelp,
    kBaseUrlLabel,
    kBaseUrl,
    kApiKeyLabel,
    kApiKey,
    kModelLabel,
    kModel,
    kToolsEnabled,
    kModeLabel,
    kMode,
    kExtraLabel,
    kExtra,
    kClose,
    kItemCount
};

enum class Kind { label, list, check, edit, password, multiline, button };

struct Control {
    Item item;
    Kind kind;
    const char* text;
    Box box;
};

using L = SettingsLabels;
const Control kControls[] = {
    {kThemeLabel, Kind::label, L::theme, {16, 16, 90, 20}},
    {kTheme, Kind::list, "", {120, 13, 180, 200}},
    {kDensityLabel, Kind::label, L::density, {16, 44, 100, 20}},
    {kDensity, Kind::list, "", {120, 41, 180, 200}},
    {kPinNumbers, Kind::check, L::pin_numbers, {16, 76, 260, 22}},
    {kPinNames, Kind::check, L::pin_names, {16, 100, 260, 22}},
    {kHiddenPins, Kind::check, L::hidden_pins, {16, 124, 300, 22}},
    {kGrid, Kind::check, L::grid, {16, 148, 260, 22}},
    {kDimOthers, Kind::check, L::dim_others, {16, 172, 320, 22}},
    {kTooltips, Kind::check, L::tooltips, {16, 196, 260, 22}},
    {kAiSection, Kind::label, L::ai_section, {16, 228, 300, 20}},
    {kProviderLabel, Kind::label, L::provider, {16, 254, 90, 20}},
    {kProvider, Kind::list, "", {120, 251, 220, 200}},
    {kProviderHelp, Kind::label, "", {16, 282, 420, 36}},
    {kBaseUrlLabel, Kind::label, L::base_url, {16, 324, 90, 20}},
    {kBaseUrl, Kind::edit, "", {120, 321, 300, 22}},
    {kApiKeyLabel, Kind::label, L::api_key, {16, 352, 90, 20}},
    {kApiKey, Kind::password, "", {120, 349, 300, 22}},
    {kModelLabel, Kind::label, L::model, {16, 380, 90, 20}},
    {kModel, Kind::edit, "", {120, 377, 300, 22}},
    {kToolsEnabled, Kind::check, L::tools_enabled, {16, 412, 420, 22}},
    {kModeLabel, Kind::label, L::tools_mode, {16, 440, 110, 20}},
    {kMode, Kind::list, "", {140, 437, 280, 200}},
    {kExtraLabel, Kind::label, L::extra, {16, 472, 420, 18}},
    {kExtra, Kind::multiline, "", {16, 492, 420, 50}},
    {kClose, Kind::button, L::close, {360, 552, 80, 26}},
};

// What the dialog procedure works on; one dialog at a time.
struct Dialog {
    SettingsForm* form;
    HWND controls[kItemCount] = {};
};
Dialog* current = nullptr;

// Ids: the item's index plus this, but Close is IDOK (1), as Enter reports it.
constexpr int kIdBase = 100;
int idOf(Item item) { return item == kClose ? IDOK : kIdBase + item; }

HWND make(HWND dialog, const Control& c, HFONT font, int dpi) {
    const wchar_t* cls = WC_STATICW;
    DWORD style = WS_CHILD | WS_VISIBLE, exStyle = 0;
    switch (c.kind) {
        case Kind::label:
            style |= SS_LEFT | SS_NOPREFIX;
            break;
        case Kind::list:
            cls = WC_COMBOBOXW;
            style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
            break;
        case Kind::check:
            cls = WC_BUTTONW;
            style |= BS_AUTOCHECKBOX | WS_TABSTOP;
            break;
        case Kind::edit:
        case Kind::password:
            cls = WC_EDITW;
            style |= ES_AUTOHSCROLL | WS_TABSTOP | (c.kind == Kind::password ? ES_PASSWORD : 0);
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case Kind::multiline:
            cls = WC_EDITW;
            style |= ES_MULTILINE | WS_VSCROLL | ES_AUTOVSCROLL | ES_WANTRETURN | WS_TABSTOP;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case Kind::button:
            cls = WC_BUTTONW;
            style |= BS_DEFPUSHBUTTON | WS_TABSTOP;
            break;
    }
    auto s = [dpi](int v) { return scaled(v, dpi); };
    HWND hwnd =
        CreateWindowExW(exStyle, cls, widen(c.text).c_str(), style, s(c.box.x), s(c.box.y), s(c.box.w), s(c.box.h),
                        dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(idOf(c.item))), nullptr, nullptr);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return hwnd;
}

void fill(HWND list, const std::vector<std::string>& texts, int selected) {
    for (const std::string& t : texts) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(t).c_str()));
    SendMessageW(list, CB_SETCURSEL, selected, 0);
}

std::string textOf(HWND edit) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    return narrow(text);
}

bool checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }
int selection(HWND list) { return static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0)); }

void start(HWND dialog, Dialog& d) {
    const SettingsForm& f = *d.form;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    const int dpi = windowDpi(dialog);
    for (const Control& c : kControls) d.controls[c.item] = make(dialog, c, font, dpi);
    HWND* h = d.controls;
    fill(h[kTheme], kThemeChoices, f.theme);
    fill(h[kDensity], kDensityChoices, f.density);
    const std::pair<Item, bool> flags[] = {{kPinNumbers, f.show_pin_numbers}, {kPinNames, f.show_pin_names},
                                           {kHiddenPins, f.show_hidden_pins}, {kGrid, f.show_grid},
                                           {kDimOthers, f.dim_others},        {kTooltips, f.tooltips},
                                           {kToolsEnabled, f.tools_enabled}};
    for (const auto& [item, on] : flags) SendMessageW(h[item], BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    std::vector<std::string> providers;
    for (const ProviderPreset& p : providerPresets()) providers.push_back(p.name);
    fill(h[kProvider], providers, f.provider);
    SetWindowTextW(h[kProviderHelp], widen(f.provider_help).c_str());
    SetWindowTextW(h[kBaseUrl], widen(f.base_url).c_str());
    SetWindowTextW(h[kApiKey], widen(f.api_key).c_str());
    SetWindowTextW(h[kModel], widen(f.model).c_str());
    fill(h[kMode], kToolModeChoices, f.tools_mode);
    SetWindowTextW(h[kExtra], widen(toCrlf(f.extra_instructions)).c_str());
}

// Another provider picked: its help shows, and its URL replaces one the user has not changed.
void providerChanged(Dialog& d) {
    SettingsForm& f = *d.form;
    f.base_url = textOf(d.controls[kBaseUrl]);
    chooseProvider(f, selection(d.controls[kProvider]));
    SetWindowTextW(d.controls[kProviderHelp], widen(f.provider_help).c_str());
    SetWindowTextW(d.controls[kBaseUrl], widen(f.base_url).c_str());
}

void readBack(Dialog& d) {
    SettingsForm& f = *d.form;
    HWND* h = d.controls;
    f.theme = selection(h[kTheme]);
    f.density = selection(h[kDensity]);
    f.show_pin_numbers = checked(h[kPinNumbers]);
    f.show_pin_names = checked(h[kPinNames]);
    f.show_hidden_pins = checked(h[kHiddenPins]);
    f.show_grid = checked(h[kGrid]);
    f.dim_others = checked(h[kDimOthers]);
    f.tooltips = checked(h[kTooltips]);
    f.provider = selection(h[kProvider]);
    f.base_url = textOf(h[kBaseUrl]);
    f.api_key = textOf(h[kApiKey]);
    f.model = textOf(h[kModel]);
    f.tools_enabled = checked(h[kToolsEnabled]);
    f.tools_mode = selection(h[kMode]);
    f.extra_instructions = fromCrlf(textOf(h[kExtra]));
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            start(dialog, *current);
            SetFocus(current->controls[kTheme]);
            return FALSE;  // the focus is set
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                readBack(*current);
                EndDialog(dialog, 1);
            } else if (LOWORD(wp) == IDCANCEL) {
                EndDialog(dialog, 2);
            } else if (LOWORD(wp) == idOf(kProvider) && HIWORD(wp) == CBN_SELCHANGE) {
                providerChanged(*current);
            }
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, 2);
            return TRUE;
    }
    return FALSE;
}

}  // namespace

bool runSettingsDialog(HINSTANCE instance, HWND owner, SettingsForm& form) {
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    const std::vector<uint16_t> tmpl = dialogTemplate(style, 0, 0, 460, 480, SettingsLabels::title, 9, "Segoe UI");
    // The dialog edits a copy: Escape leaves the caller's form as it was.
    SettingsForm edited = form;
    Dialog d{&edited};
    current = &d;
    const INT_PTR result =
        DialogBoxIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(tmpl.data()), owner, dialogProc, 0);
    current = nullptr;
    if (result != 1) return false;
    form = edited;
    return true;
}

}  // namespace nl::win32
