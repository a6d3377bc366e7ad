// The settings dialog on Win32, over the dialog's model (app/settings_form.h).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "app/settings_form.h"

namespace nl::win32 {

// Runs the dialog modally over `owner`; true, with `form` holding what the
// user left in it, when Close was pressed. Escape and the close box change nothing.
bool runSettingsDialog(HINSTANCE instance, HWND owner, SettingsForm& form);

}  // namespace nl::win32
