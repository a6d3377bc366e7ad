// The desktop window on GTK 3. Only widgets live here: what they do is the
// WindowController's (app/window_controller.h).
#pragma once

#if NETLOOM_HAVE_GTK

#include <gtk/gtk.h>

#include "app/settings_form.h"

namespace nl {

// Opens the window with the process's arguments and returns when it closes:
// 0, or 1 with a message when no display can be opened.
int runGtkWindow(int argc, char** argv);

// The settings dialog, modal over `parent`; true (with `form` updated) on Close.
bool runGtkSettingsDialog(GtkWindow* parent, SettingsForm& form);

}  // namespace nl

#endif
