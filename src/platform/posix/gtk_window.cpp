// The main window on GTK 3: menu, toolbar, canvas, side panel and status
// line. Every handler here translates a GTK signal into a controller call,
// and changed() copies what the controller reports back into the widgets.
#include "platform/posix/gtk_window.h"

#if NETLOOM_HAVE_GTK

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/window_controller.h"
#include "platform/posix/cairo_export.h"
#include "platform/posix/cairo_painter.h"
#include "platform/posix/window_cairo.h"

namespace nl {

namespace {

constexpr int kSidePanelWidth = 380;

class GtkShell final : public WindowShell {
public:
    ~GtkShell() override;
    void build(WindowController& controller);
    void finish();

    void changed(unsigned what) override;
    void showMessage(const std::string& title, const std::string& text, MessageIcon icon) override;
    bool chooseFile(FileRequest& request, std::string& path) override;
    bool editSettings(SettingsForm& form) override { return runGtkSettingsDialog(GTK_WINDOW(window_), form); }
    void setBusyCursor(bool busy) override;
    void wake() override;

private:
    GtkWidget* buildMenu();
    GtkWidget* buildToolbar();
    GtkWidget* buildCanvas();
    GtkWidget* buildSidePanel();
    GtkWidget* menuItem(GtkWidget* menu, const char* label, WindowCommand command, guint key = 0,
                        GdkModifierType mods = GdkModifierType(0), bool bound = true);
    void rebuildRecent();
    void updateSheets();
    void traceLayout();
    bool key(GdkEventKey* event);
    void drawCanvas(cairo_t* cr);
    void sendChat();
    void find(bool backwards);

    static gboolean onWake(gpointer self);

    WindowController* c_ = nullptr;
    GtkWidget* window_ = nullptr;
    GtkAccelGroup* accel_ = nullptr;
    GtkWidget* canvas_ = nullptr;
    GtkWidget* notebook_ = nullptr;
    GtkWidget* inspector_ = nullptr;
    GtkListStore* erc_store_ = nullptr;
    GtkWidget* erc_view_ = nullptr;
    GtkWidget* transcript_ = nullptr;
    GtkWidget* input_ = nullptr;
    GtkWidget* send_ = nullptr;
    GtkWidget* status_ = nullptr;
    GtkWidget* location_ = nullptr;
    GtkWidget* sheets_ = nullptr;
    GtkWidget* up_ = nullptr;
    GtkWidget* find_ = nullptr;
    GtkWidget* recent_menu_ = nullptr;
    std::vector<GtkWidget*> need_design_;  // sensitive only with a design open
    std::vector<std::string> shown_sheets_;
    size_t transcript_shown_ = 0;
    bool updating_ = false;  // widgets being set from the controller: their signals are not the user's
    std::atomic<bool> wake_pending_{false};
    std::string last_layout_;
    GdkCursor* crosshair_ = nullptr;
    GdkCursor* watch_ = nullptr;
};

struct CommandItem {
    GtkShell* shell;
    WindowController* controller;
    WindowCommand command;
};

GtkShell::~GtkShell() {
    if (crosshair_) g_object_unref(crosshair_);
    if (watch_) g_object_unref(watch_);
}

// ---- building

GtkWidget* GtkShell::menuItem(GtkWidget* menu, const char* label, WindowCommand command, guint key,
                              GdkModifierType mods, bool bound) {
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(label);
    auto* data = new CommandItem{this, c_, command};
    g_signal_connect_data(
        item, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer p) {
            auto* d = static_cast<CommandItem*>(p);
            d->controller->command(d->command);
        }),
        data, +[](gpointer p, GClosure*) { delete static_cast<CommandItem*>(p); }, GConnectFlags(0));
    if (key && bound) gtk_widget_add_accelerator(item, "activate", accel_, key, mods, GTK_ACCEL_VISIBLE);
    // Keys the canvas handles itself are only shown: bound here they would reach no text entry.
    if (key && !bound) gtk_accel_label_set_accel(GTK_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(item))), key, mods);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

GtkWidget* GtkShell::buildMenu() {
    GtkWidget* bar = gtk_menu_bar_new();
    auto top = [&](const char* label) {
        GtkWidget* item = gtk_menu_item_new_with_mnemonic(label);
        GtkWidget* menu = gtk_menu_new();
        gtk_menu_set_accel_group(GTK_MENU(menu), accel_);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
        gtk_menu_shell_append(GTK_MENU_SHELL(bar), item);
        return menu;
    };
    auto separator = [](GtkWidget* menu) {
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
    };
    const auto ctrl = GDK_CONTROL_MASK;

    GtkWidget* file = top("_File");
    menuItem(file, "_Open Schematic\u2026", WindowCommand::Open, GDK_KEY_o, ctrl);
    GtkWidget* recent = gtk_menu_item_new_with_mnemonic("Open _Recent");
    recent_menu_ = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(recent), recent_menu_);
    gtk_menu_shell_append(GTK_MENU_SHELL(file), recent);
    menuItem(file, "Open _Demo Schematic", WindowCommand::OpenDemo);
    separator(file);
    need_design_.push_back(menuItem(file, "_Export SVG\u2026", WindowCommand::ExportSvg, GDK_KEY_e, ctrl));
    if (c_->canExportPng()) need_design_.push_back(menuItem(file, "Export _PNG\u2026", WindowCommand::ExportPng));
    if (c_->canExportPdf()) need_design_.push_back(menuItem(file, "Export P_DF\u2026", WindowCommand::ExportPdf));
    separator(file);
    GtkWidget* quit = gtk_menu_item_new_with_mnemonic("_Quit");
    gtk_widget_add_accelerator(quit, "activate", accel_, GDK_KEY_q, ctrl, GTK_ACCEL_VISIBLE);
    g_signal_connect_swapped(quit, "activate", G_CALLBACK(gtk_widget_destroy), window_);
    gtk_menu_shell_append(GTK_MENU_SHELL(file), quit);

    GtkWidget* view = top("_View");
    menuItem(view, "_Fit to Window", WindowCommand::Fit, GDK_KEY_Home, GdkModifierType(0), false);
    menuItem(view, "_Clear Highlight", WindowCommand::ClearHighlight, GDK_KEY_Escape, GdkModifierType(0), false);
    separator(view);
    menuItem(view, "Zoom _In", WindowCommand::ZoomIn, GDK_KEY_plus, GdkModifierType(0), false);
    menuItem(view, "Zoom _Out", WindowCommand::ZoomOut, GDK_KEY_minus, GdkModifierType(0), false);
    menuItem(view, "_Parent Sheet", WindowCommand::ParentSheet, GDK_KEY_BackSpace, GdkModifierType(0), false);
    separator(view);
    // Not saved: a page frame is for a look at the printed page, not a preference.
    GtkWidget* frame = gtk_check_menu_item_new_with_mnemonic("Page Fr_ame");
    g_signal_connect(frame, "toggled", G_CALLBACK(+[](GtkCheckMenuItem*, gpointer p) {
                         static_cast<WindowController*>(p)->command(WindowCommand::TogglePageFrame);
                     }),
                     c_);
    gtk_menu_shell_append(GTK_MENU_SHELL(view), frame);
    separator(view);
    GtkWidget* findItem = gtk_menu_item_new_with_mnemonic("_Find\u2026");
    gtk_widget_add_accelerator(findItem, "activate", accel_, GDK_KEY_f, ctrl, GTK_ACCEL_VISIBLE);
    g_signal_connect_swapped(findItem, "activate", G_CALLBACK(gtk_widget_grab_focus), find_);
    gtk_menu_shell_append(GTK_MENU_SHELL(view), findItem);

    GtkWidget* tools = top("_Tools");
    menuItem(tools, "Run _ERC", WindowCommand::RunErc, GDK_KEY_F5, GdkModifierType(0));
    menuItem(tools, "_Settings\u2026", WindowCommand::Settings, GDK_KEY_comma, ctrl);
    return bar;
}

GtkWidget* GtkShell::buildToolbar() {
    GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(bar), 4);
    gtk_box_pack_start(GTK_BOX(bar), gtk_label_new("Sheet"), FALSE, FALSE, 0);
    sheets_ = gtk_combo_box_text_new();
    gtk_widget_set_size_request(sheets_, 260, -1);
    g_signal_connect(sheets_, "changed", G_CALLBACK(+[](GtkComboBox* combo, gpointer p) {
                         auto* self = static_cast<GtkShell*>(p);
                         if (!self->updating_) self->c_->gotoSheet(gtk_combo_box_get_active(combo));
                     }),
                     this);
    gtk_box_pack_start(GTK_BOX(bar), sheets_, FALSE, FALSE, 0);
    up_ = gtk_button_new_from_icon_name("go-up-symbolic", GTK_ICON_SIZE_BUTTON);
    gtk_widget_set_tooltip_text(up_, "Parent sheet (Backspace)");
    g_signal_connect(up_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer p) {
                         static_cast<GtkShell*>(p)->c_->command(WindowCommand::ParentSheet);
                     }),
                     this);
    gtk_box_pack_start(GTK_BOX(bar), up_, FALSE, FALSE, 0);

    find_ = gtk_search_entry_new();
    gtk_entry_set_placeholder_text(GTK_ENTRY(find_), "Find: R1, U1.3, net name");
    gtk_entry_set_width_chars(GTK_ENTRY(find_), 28);
    gtk_widget_set_tooltip_text(find_, "Enter: next hit, Shift+Enter: previous (Ctrl+F)");
    g_signal_connect(find_, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* e, gpointer p) -> gboolean {
                         auto* self = static_cast<GtkShell*>(p);
                         if (e->keyval == GDK_KEY_Return || e->keyval == GDK_KEY_KP_Enter) {
                             self->find((e->state & GDK_SHIFT_MASK) != 0);
                             return TRUE;
                         }
                         if (e->keyval == GDK_KEY_Escape) {
                             gtk_widget_grab_focus(self->canvas_);
                             return TRUE;
                         }
                         return FALSE;
                     }),
                     this);
    gtk_box_pack_end(GTK_BOX(bar), find_, FALSE, FALSE, 0);
    return bar;
}

GtkWidget* GtkShell::buildCanvas() {
    canvas_ = gtk_drawing_area_new();
    gtk_widget_set_can_focus(canvas_, TRUE);
    gtk_widget_set_hexpand(canvas_, TRUE);
    gtk_widget_set_vexpand(canvas_, TRUE);
    gtk_widget_add_events(canvas_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                       GDK_SCROLL_MASK | GDK_LEAVE_NOTIFY_MASK);
    g_signal_connect(canvas_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer p) -> gboolean {
                         static_cast<GtkShell*>(p)->drawCanvas(cr);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(canvas_, "size-allocate", G_CALLBACK(+[](GtkWidget*, GdkRectangle* a, gpointer p) {
                         static_cast<GtkShell*>(p)->c_->resize(a->width, a->height);
                     }),
                     this);
    g_signal_connect(canvas_, "realize", G_CALLBACK(+[](GtkWidget* w, gpointer p) {
                         gdk_window_set_cursor(gtk_widget_get_window(w), static_cast<GtkShell*>(p)->crosshair_);
                     }),
                     this);
    g_signal_connect(canvas_, "button-press-event", G_CALLBACK(+[](GtkWidget* w, GdkEventButton* e, gpointer p) {
                         auto* self = static_cast<GtkShell*>(p);
                         gtk_widget_grab_focus(w);
                         if (e->type == GDK_2BUTTON_PRESS)
                             self->c_->doubleClick(e->x, e->y);
                         else if (e->type == GDK_BUTTON_PRESS)
                             self->c_->buttonPress(static_cast<int>(e->button), e->x, e->y,
                                                   (e->state & GDK_SHIFT_MASK) != 0);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(canvas_, "button-release-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer p) {
                         static_cast<GtkShell*>(p)->c_->buttonRelease(static_cast<int>(e->button));
                         return TRUE;
                     }),
                     this);
    g_signal_connect(canvas_, "motion-notify-event", G_CALLBACK(+[](GtkWidget*, GdkEventMotion* e, gpointer p) {
                         static_cast<GtkShell*>(p)->c_->pointerMove(e->x, e->y);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(canvas_, "leave-notify-event", G_CALLBACK(+[](GtkWidget*, GdkEventCrossing* e, gpointer p) {
                         if (e->mode == GDK_CROSSING_NORMAL) static_cast<GtkShell*>(p)->c_->pointerLeave();
                         return FALSE;
                     }),
                     this);
    g_signal_connect(canvas_, "scroll-event", G_CALLBACK(+[](GtkWidget*, GdkEventScroll* e, gpointer p) {
                         auto* self = static_cast<GtkShell*>(p);
                         if (e->direction == GDK_SCROLL_UP) self->c_->wheel(1, e->x, e->y);
                         if (e->direction == GDK_SCROLL_DOWN) self->c_->wheel(-1, e->x, e->y);
                         return TRUE;
                     }),
                     this);
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(frame), canvas_);
    return frame;
}

GtkWidget* scrolled(GtkWidget* child) {
    GtkWidget* s = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(s), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_widget_set_vexpand(s, TRUE);
    gtk_container_add(GTK_CONTAINER(s), child);
    return s;
}

GtkWidget* readOnlyText(bool monospace) {
    GtkWidget* v = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(v), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(v), FALSE);
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(v), monospace);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(v), GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(v), 4);
    return v;
}

GtkWidget* GtkShell::buildSidePanel() {
    notebook_ = gtk_notebook_new();
    gtk_widget_set_size_request(notebook_, kSidePanelWidth, -1);

    inspector_ = readOnlyText(true);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), scrolled(inspector_), gtk_label_new(kTabNames[0]));

    erc_store_ = gtk_list_store_new(1, G_TYPE_STRING);
    erc_view_ = gtk_tree_view_new_with_model(GTK_TREE_MODEL(erc_store_));
    g_object_unref(erc_store_);
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(erc_view_), FALSE);
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(erc_view_), -1, "", cell, "text", 0, nullptr);
    g_signal_connect(erc_view_, "row-activated",
                     G_CALLBACK(+[](GtkTreeView*, GtkTreePath* path, GtkTreeViewColumn*, gpointer p) {
                         const gint* indices = gtk_tree_path_get_indices(path);
                         if (indices) static_cast<GtkShell*>(p)->c_->activateErcRow(indices[0]);
                     }),
                     this);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), scrolled(erc_view_), gtk_label_new(kTabNames[1]));

    GtkWidget* chat = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    transcript_ = readOnlyText(false);
    gtk_box_pack_start(GTK_BOX(chat), scrolled(transcript_), TRUE, TRUE, 0);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_container_set_border_width(GTK_CONTAINER(row), 4);
    input_ = gtk_entry_new();
    send_ = gtk_button_new_with_label("Send");
    gtk_box_pack_start(GTK_BOX(row), input_, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), send_, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(chat), row, FALSE, FALSE, 0);
    auto send = +[](GtkWidget*, gpointer p) { static_cast<GtkShell*>(p)->sendChat(); };
    g_signal_connect(input_, "activate", G_CALLBACK(send), this);
    g_signal_connect(send_, "clicked", G_CALLBACK(send), this);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), chat, gtk_label_new(kTabNames[2]));

    g_signal_connect(notebook_, "switch-page", G_CALLBACK(+[](GtkNotebook*, GtkWidget*, guint page, gpointer p) {
                         auto* self = static_cast<GtkShell*>(p);
                         if (!self->updating_) self->c_->selectTab(static_cast<int>(page));
                     }),
                     this);
    return notebook_;
}

void GtkShell::build(WindowController& controller) {
    c_ = &controller;
    GdkDisplay* display = gdk_display_get_default();
    crosshair_ = gdk_cursor_new_from_name(display, "crosshair");
    watch_ = gdk_cursor_new_from_name(display, "wait");

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), kWindowTitle);
    // 1400 x 900, but never larger than the screen's work area: on a laptop
    // the inspector pane would open beyond its right edge.
    int width = 1400, height = 900;
    if (GdkMonitor* monitor = gdk_display_get_primary_monitor(display) ? gdk_display_get_primary_monitor(display)
                                                                       : gdk_display_get_monitor(display, 0)) {
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        if (area.width > 0 && area.height > 0) {
            width = std::min(width, area.width * 19 / 20);
            height = std::min(height, area.height * 19 / 20);
        }
    }
    gtk_window_set_default_size(GTK_WINDOW(window_), width, height);
    gtk_window_set_icon_name(GTK_WINDOW(window_), "netloom");
    accel_ = gtk_accel_group_new();
    gtk_window_add_accel_group(GTK_WINDOW(window_), accel_);
    g_object_unref(accel_);
    g_signal_connect(window_, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* e, gpointer p) -> gboolean {
                         return static_cast<GtkShell*>(p)->key(e);
                     }),
                     this);
    auto layout = +[](GtkWidget*, GdkEvent*, gpointer p) -> gboolean {
        static_cast<GtkShell*>(p)->traceLayout();
        return FALSE;
    };
    g_signal_connect(window_, "configure-event", G_CALLBACK(layout), this);
    g_signal_connect_after(
        window_, "size-allocate",
        G_CALLBACK(+[](GtkWidget*, GdkRectangle*, gpointer p) { static_cast<GtkShell*>(p)->traceLayout(); }), this);

    // A schematic file dropped anywhere on the window opens.
    gtk_drag_dest_set(window_, GTK_DEST_DEFAULT_ALL, nullptr, 0, GDK_ACTION_COPY);
    gtk_drag_dest_add_uri_targets(window_);
    g_signal_connect(
        window_, "drag-data-received",
        G_CALLBACK(+[](GtkWidget*, GdkDragContext*, gint, gint, GtkSelectionData* data, guint, guint, gpointer p) {
            gchar** uris = gtk_selection_data_get_uris(data);
            gchar* path = uris && uris[0] ? g_filename_from_uri(uris[0], nullptr, nullptr) : nullptr;
            if (path) {
                // Opened once the drag has ended: a load, or its error message, must not hold it up.
                struct Drop {
                    WindowController* c;
                    std::string path;
                };
                g_idle_add(
                    +[](gpointer d) -> gboolean {
                        std::unique_ptr<Drop> drop(static_cast<Drop*>(d));
                        drop->c->openDropped(drop->path);
                        return G_SOURCE_REMOVE;
                    },
                    new Drop{static_cast<GtkShell*>(p)->c_, path});
            }
            g_free(path);
            g_strfreev(uris);
        }),
        this);

    GtkWidget* toolbar = buildToolbar();  // before the menu: Find focuses its entry
    GtkWidget* menu = buildMenu();
    GtkWidget* main = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(main), buildCanvas(), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(main), buildSidePanel(), FALSE, FALSE, 0);
    GtkWidget* statusBar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_widget_set_size_request(statusBar, -1, 24);
    gtk_container_set_border_width(GTK_CONTAINER(statusBar), 2);
    status_ = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(status_), 0);
    gtk_label_set_ellipsize(GTK_LABEL(status_), PANGO_ELLIPSIZE_END);
    gtk_label_set_selectable(GTK_LABEL(status_), FALSE);
    location_ = gtk_label_new("");
    gtk_box_pack_start(GTK_BOX(statusBar), status_, TRUE, TRUE, 4);
    gtk_box_pack_end(GTK_BOX(statusBar), location_, FALSE, FALSE, 4);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(box), menu, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), toolbar, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), main, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), statusBar, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window_), box);
    gtk_widget_show_all(window_);
    gtk_widget_grab_focus(canvas_);
    changed(~0u);
}

// Waits for a running assistant turn and drops a wake-up that can no longer be served.
void GtkShell::finish() {
    c_->shutdown();
    while (g_source_remove_by_user_data(this)) {
    }
}

// ---- what the controller reports

void GtkShell::changed(unsigned what) {
    updating_ = true;
    if (what & kChangedCanvas) gtk_widget_queue_draw(canvas_);
    if (what & kChangedStatus) gtk_label_set_text(GTK_LABEL(status_), c_->statusText().c_str());
    if (what & kChangedInspector)
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(inspector_)), c_->inspectorText().c_str(), -1);
    if (what & kChangedErcRows) {
        gtk_list_store_clear(erc_store_);
        for (const std::string& row : c_->ercRows()) {
            GtkTreeIter it;
            gtk_list_store_append(erc_store_, &it);
            gtk_list_store_set(erc_store_, &it, 0, row.c_str(), -1);
        }
    }
    if (what & kChangedTranscript) {
        const std::string& text = c_->transcript();
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(transcript_));
        if (transcript_shown_ > text.size()) transcript_shown_ = 0, gtk_text_buffer_set_text(buffer, "", 0);
        GtkTextIter end;
        gtk_text_buffer_get_end_iter(buffer, &end);
        gtk_text_buffer_insert(buffer, &end, text.c_str() + transcript_shown_,
                               static_cast<gint>(text.size() - transcript_shown_));
        transcript_shown_ = text.size();
        gtk_text_buffer_get_end_iter(buffer, &end);
        GtkTextMark* mark = gtk_text_buffer_create_mark(buffer, nullptr, &end, FALSE);
        gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(transcript_), mark);
        gtk_text_buffer_delete_mark(buffer, mark);
    }
    if (what & kChangedBusy) {
        gtk_widget_set_sensitive(input_, !c_->busy());
        gtk_widget_set_sensitive(send_, !c_->busy());
        if (!c_->busy() && gtk_notebook_get_current_page(GTK_NOTEBOOK(notebook_)) == 2) gtk_widget_grab_focus(input_);
    }
    if (what & kChangedTab) gtk_notebook_set_current_page(GTK_NOTEBOOK(notebook_), c_->tab());
    if (what & kChangedSheets) updateSheets();
    if (what & kChangedRecent) rebuildRecent();
    for (GtkWidget* w : need_design_) gtk_widget_set_sensitive(w, c_->hasSchematic());
    updating_ = false;
}

void GtkShell::updateSheets() {
    if (c_->sheetPaths() != shown_sheets_) {
        shown_sheets_ = c_->sheetPaths();
        gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(sheets_));
        for (const std::string& path : shown_sheets_)
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(sheets_), path.c_str());
    }
    gtk_combo_box_set_active(GTK_COMBO_BOX(sheets_), c_->hasSchematic() ? c_->sheet() : -1);
    gtk_widget_set_sensitive(sheets_, shown_sheets_.size() > 1);
    gtk_widget_set_sensitive(up_, c_->hasParentSheet());
    gtk_label_set_text(GTK_LABEL(location_), c_->sheetPath().c_str());
}

void GtkShell::rebuildRecent() {
    GList* children = gtk_container_get_children(GTK_CONTAINER(recent_menu_));
    for (GList* l = children; l; l = l->next) gtk_widget_destroy(GTK_WIDGET(l->data));
    g_list_free(children);
    const std::vector<std::string> files = c_->recentFiles();
    for (size_t i = 0; i < files.size(); ++i) {
        GtkWidget* item = gtk_menu_item_new_with_label(files[i].c_str());
        g_object_set_data(G_OBJECT(item), "index", GINT_TO_POINTER(static_cast<int>(i)));
        g_signal_connect(
            item, "activate", G_CALLBACK(+[](GtkMenuItem* m, gpointer p) {
                static_cast<GtkShell*>(p)->c_->openRecent(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(m), "index")));
            }),
            this);
        gtk_menu_shell_append(GTK_MENU_SHELL(recent_menu_), item);
    }
    if (files.empty()) {
        GtkWidget* none = gtk_menu_item_new_with_label("(none)");
        gtk_widget_set_sensitive(none, FALSE);
        gtk_menu_shell_append(GTK_MENU_SHELL(recent_menu_), none);
    }
    gtk_widget_show_all(recent_menu_);
}

// Where the widgets a script clicks on stand on the screen, for the state trace.
void GtkShell::traceLayout() {
    if (!c_ || !c_->trace().on() || !gtk_widget_get_realized(window_)) return;
    int wx = 0, wy = 0;
    gdk_window_get_origin(gtk_widget_get_window(window_), &wx, &wy);
    auto rect = [&](GtkWidget* w) {
        int x = 0, y = 0;
        gtk_widget_translate_coordinates(w, window_, 0, 0, &x, &y);
        return nlohmann::json::array(
            {wx + x, wy + y, gtk_widget_get_allocated_width(w), gtk_widget_get_allocated_height(w)});
    };
    nlohmann::json tabs = nlohmann::json::array();
    for (int i = 0; i < 3; ++i)
        tabs.push_back(rect(gtk_notebook_get_tab_label(GTK_NOTEBOOK(notebook_),
                                                       gtk_notebook_get_nth_page(GTK_NOTEBOOK(notebook_), i))));
    nlohmann::json layout = {{"canvas", rect(canvas_)}, {"tabs", tabs},           {"erc_list", rect(erc_view_)},
                             {"input", rect(input_)},   {"send", rect(send_)},    {"find", rect(find_)},
                             {"sheets", rect(sheets_)}, {"status", rect(status_)}};
    const std::string text = layout.dump();
    if (text == last_layout_) return;
    last_layout_ = text;
    c_->trace().write("layout", layout);
}

// ---- requests

void GtkShell::showMessage(const std::string& title, const std::string& text, MessageIcon icon) {
    const GtkMessageType type = icon == MessageIcon::Error     ? GTK_MESSAGE_ERROR
                                : icon == MessageIcon::Warning ? GTK_MESSAGE_WARNING
                                                               : GTK_MESSAGE_INFO;
    GtkWidget* box =
        gtk_message_dialog_new(GTK_WINDOW(window_), GTK_DIALOG_MODAL, type, GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), title.c_str());
    c_->trace().write("message", {{"title", title}, {"text", text}});
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

bool GtkShell::chooseFile(FileRequest& r, std::string& path) {
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        r.title.c_str(), GTK_WINDOW(window_), r.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
        "_Cancel", GTK_RESPONSE_CANCEL, r.save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    for (const auto& [label, patterns] : r.filters) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, label.c_str());
        gchar** list = g_strsplit(patterns.c_str(), ";", -1);
        for (gchar** p = list; *p; ++p) gtk_file_filter_add_pattern(filter, g_str_equal(*p, "*.*") ? "*" : *p);
        g_strfreev(list);
        gtk_file_chooser_add_filter(chooser, filter);
    }
    GtkWidget* width = nullptr;
    if (r.save) {
        gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
        gtk_file_chooser_set_current_name(chooser, r.proposed_name.c_str());
    }
    if (r.image_width > 0) {
        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
        width = gtk_spin_button_new_with_range(100, 20000, 100);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(width), r.image_width);
        gtk_box_pack_start(GTK_BOX(row), gtk_label_new("Image width (pixels)"), FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(row), width, FALSE, FALSE, 0);
        gtk_widget_show_all(row);
        gtk_file_chooser_set_extra_widget(chooser, row);
    }
    const bool ok = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
    if (ok) {
        gchar* name = gtk_file_chooser_get_filename(chooser);
        path = name ? name : "";
        g_free(name);
        const std::string ext = "." + r.default_extension;
        const size_t slash = path.rfind('/');
        if (r.save && !r.default_extension.empty() &&
            path.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos)
            path += ext;
        if (width) r.image_width = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(width));
    }
    gtk_widget_destroy(dialog);
    return ok && !path.empty();
}

void GtkShell::setBusyCursor(bool busy) {
    for (GtkWidget* w : {window_, canvas_}) {
        GdkWindow* g = w ? gtk_widget_get_window(w) : nullptr;
        if (g) gdk_window_set_cursor(g, busy ? watch_ : (w == canvas_ ? crosshair_ : nullptr));
    }
    // Shown before the load blocks the main loop.
    gdk_display_flush(gdk_display_get_default());
}

void GtkShell::wake() {
    if (!wake_pending_.exchange(true)) g_idle_add(onWake, this);
}

gboolean GtkShell::onWake(gpointer p) {
    auto* self = static_cast<GtkShell*>(p);
    self->wake_pending_ = false;
    self->c_->drainEvents();
    return G_SOURCE_REMOVE;
}

// ---- input

void GtkShell::sendChat() {
    if (c_->send(gtk_entry_get_text(GTK_ENTRY(input_)))) gtk_entry_set_text(GTK_ENTRY(input_), "");
}

void GtkShell::find(bool backwards) { c_->find(gtk_entry_get_text(GTK_ENTRY(find_)), backwards); }

bool GtkShell::key(GdkEventKey* e) {
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window_));
    const guint mods = e->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SHIFT_MASK);
    if ((mods & GDK_MOD1_MASK) && e->keyval == GDK_KEY_Up) {
        c_->command(WindowCommand::ParentSheet);
        return true;
    }
    // Text entries keep every key; lists, texts and tabs keep the keys they move with.
    if (focus && GTK_IS_ENTRY(focus)) return false;
    if (mods & (GDK_CONTROL_MASK | GDK_MOD1_MASK)) return false;
    const bool navigates = focus && focus != canvas_ &&
                           (GTK_IS_TREE_VIEW(focus) || GTK_IS_TEXT_VIEW(focus) || GTK_IS_NOTEBOOK(focus) ||
                            GTK_IS_COMBO_BOX(focus) || GTK_IS_BUTTON(focus));
    switch (e->keyval) {
        case GDK_KEY_f:
        case GDK_KEY_F:
            c_->command(WindowCommand::Fit);
            return true;
        case GDK_KEY_plus:
        case GDK_KEY_equal:
        case GDK_KEY_KP_Add:
            c_->command(WindowCommand::ZoomIn);
            return true;
        case GDK_KEY_minus:
        case GDK_KEY_KP_Subtract:
            c_->command(WindowCommand::ZoomOut);
            return true;
        case GDK_KEY_Escape:
            c_->command(WindowCommand::ClearHighlight);
            return true;
        case GDK_KEY_BackSpace:
            c_->command(WindowCommand::ParentSheet);
            return true;
        default:
            break;
    }
    if (navigates) return false;
    switch (e->keyval) {
        case GDK_KEY_Home:
        case GDK_KEY_KP_Home:
            c_->command(WindowCommand::Fit);
            return true;
        case GDK_KEY_Left:
            c_->command(WindowCommand::PanLeft);
            return true;
        case GDK_KEY_Right:
            c_->command(WindowCommand::PanRight);
            return true;
        case GDK_KEY_Up:
            c_->command(WindowCommand::PanUp);
            return true;
        case GDK_KEY_Down:
            c_->command(WindowCommand::PanDown);
            return true;
        default:
            return false;
    }
}

// ---- the canvas

void GtkShell::drawCanvas(cairo_t* cr) {
    paintCanvas(cr, *c_);
    if (c_->hasSchematic()) return;
    // The invitation, centred in a band across the middle, in the desktop's own font at 16 pixels.
    const int w = gtk_widget_get_allocated_width(canvas_), h = gtk_widget_get_allocated_height(canvas_);
    PangoLayout* layout = gtk_widget_create_pango_layout(canvas_, WindowController::invitationText());
    PangoFontDescription* font =
        pango_font_description_copy(pango_context_get_font_description(gtk_widget_get_pango_context(canvas_)));
    pango_font_description_set_absolute_size(font, 16 * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_width(layout, w * PANGO_SCALE);
    pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
    int tw = 0, th = 0;
    pango_layout_get_pixel_size(layout, &tw, &th);
    const Color ink = WindowController::invitationColor();
    cairo_set_source_rgba(cr, ink.r, ink.g, ink.b, ink.a);
    cairo_move_to(cr, 0, h / 2.0 - 20 + (40 - th) / 2.0);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

}  // namespace

int runGtkWindow(int argc, char** argv) {
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fputs(
            "Error: cannot open a window: no display (is DISPLAY set?). The headless commands work without one; "
            "see --help.\n",
            stderr);
        return 1;
    }
    std::string warning;
    Settings settings = settingsForReading(&warning);
    if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
    WindowOptions options;
    options.png = [](const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight, bool frame,
                     int width, const std::string& path, std::string* error) {
        return renderSheetPng(s, sheet, settings, highlight, width, path, error, frame);
    };
    // The document the command line's --pdf writes (paper colours, every sheet
    // framed on its own paper), with the window's highlight.
    options.pdf = [](const Schematic& s, const Settings& settings, const Highlight* highlight, const std::string& path,
                     std::string* error) {
        Settings paper = settings;
        paper.theme = "paper";
        std::vector<int> sheets(s.sheets.size());
        for (size_t i = 0; i < sheets.size(); ++i) sheets[i] = static_cast<int>(i);
        return writeDesignPdf(s, sheets, paper, path, error, highlight);
    };
    if (const char* trace = std::getenv("NETLOOM_UI_TRACE")) options.trace_path = trace;

    auto shell = std::make_unique<GtkShell>();
    {
        WindowController controller(*shell, std::move(settings), std::move(options));
        shell->build(controller);
        controller.start(std::vector<std::string>(argv, argv + argc));
        gtk_main();
        shell->finish();
    }
    return 0;
}

}  // namespace nl

#endif
