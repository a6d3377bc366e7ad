// The settings dialog's widgets: a grid of labelled controls filled from and
// read back into the SettingsForm, which holds every rule.
#include "platform/posix/gtk_window.h"

#if NETLOOM_HAVE_GTK

#include <string>

namespace nl {

namespace {

constexpr int kClose = 1;

struct Dialog {
    SettingsForm* form;
    GtkWidget* theme;
    GtkWidget* density;
    GtkWidget* checks[6];
    GtkWidget* provider;
    GtkWidget* help;
    GtkWidget* base_url;
    GtkWidget* api_key;
    GtkWidget* model;
    GtkWidget* tools;
    GtkWidget* mode;
    GtkWidget* extra;
};

GtkWidget* choices(const std::vector<std::string>& texts, int active) {
    GtkWidget* combo = gtk_combo_box_text_new();
    for (const std::string& t : texts) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), t.c_str());
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), active);
    return combo;
}

GtkWidget* entry(const std::string& text) {
    GtkWidget* e = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(e), text.c_str());
    gtk_widget_set_hexpand(e, TRUE);
    return e;
}

GtkWidget* label(const char* text) {
    GtkWidget* l = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(l), 0);
    return l;
}

void onProvider(GtkComboBox* combo, gpointer data) {
    Dialog& d = *static_cast<Dialog*>(data);
    d.form->base_url = gtk_entry_get_text(GTK_ENTRY(d.base_url));
    chooseProvider(*d.form, gtk_combo_box_get_active(combo));
    gtk_label_set_text(GTK_LABEL(d.help), d.form->provider_help.c_str());
    gtk_entry_set_text(GTK_ENTRY(d.base_url), d.form->base_url.c_str());
}

std::string textOf(GtkWidget* view) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    GtkTextIter a, b;
    gtk_text_buffer_get_bounds(buffer, &a, &b);
    gchar* text = gtk_text_buffer_get_text(buffer, &a, &b, FALSE);
    std::string out = text;
    g_free(text);
    return out;
}

}  // namespace

bool runGtkSettingsDialog(GtkWindow* parent, SettingsForm& form) {
    using L = SettingsLabels;
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), L::title);
    gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_dialog_add_button(GTK_DIALOG(dialog), (std::string("_") + L::close).c_str(), kClose);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kClose);

    Dialog d{};
    d.form = &form;
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 12);
    int row = 0;
    auto pair = [&](const char* text, GtkWidget* control) {
        gtk_grid_attach(GTK_GRID(grid), label(text), 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), control, 1, row++, 1, 1);
    };
    auto wide = [&](GtkWidget* w) { gtk_grid_attach(GTK_GRID(grid), w, 0, row++, 2, 1); };

    pair(L::theme, d.theme = choices(kThemeChoices, form.theme));
    pair(L::density, d.density = choices(kDensityChoices, form.density));
    const char* checkLabels[6] = {L::pin_numbers, L::pin_names, L::hidden_pins, L::grid, L::dim_others, L::tooltips};
    bool* flags[6] = {&form.show_pin_numbers, &form.show_pin_names, &form.show_hidden_pins,
                      &form.show_grid,        &form.dim_others,     &form.tooltips};
    for (int i = 0; i < 6; ++i) {
        d.checks[i] = gtk_check_button_new_with_label(checkLabels[i]);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(d.checks[i]), *flags[i]);
        wide(d.checks[i]);
    }
    GtkWidget* section = label(L::ai_section);
    gtk_widget_set_margin_top(section, 8);
    wide(section);
    std::vector<std::string> providers;
    for (const ProviderPreset& p : providerPresets()) providers.push_back(p.name);
    pair(L::provider, d.provider = choices(providers, form.provider));
    d.help = label(form.provider_help.c_str());
    gtk_label_set_line_wrap(GTK_LABEL(d.help), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(d.help), 60);
    gtk_style_context_add_class(gtk_widget_get_style_context(d.help), "dim-label");
    wide(d.help);
    pair(L::base_url, d.base_url = entry(form.base_url));
    pair(L::api_key, d.api_key = entry(form.api_key));
    gtk_entry_set_visibility(GTK_ENTRY(d.api_key), FALSE);
    pair(L::model, d.model = entry(form.model));
    d.tools = gtk_check_button_new_with_label(L::tools_enabled);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(d.tools), form.tools_enabled);
    wide(d.tools);
    pair(L::tools_mode, d.mode = choices(kToolModeChoices, form.tools_mode));
    wide(label(L::extra));
    d.extra = gtk_text_view_new();
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(d.extra), GTK_WRAP_WORD_CHAR);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(d.extra)), form.extra_instructions.c_str(), -1);
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_widget_set_size_request(scroll, -1, 70);
    gtk_container_add(GTK_CONTAINER(scroll), d.extra);
    wide(scroll);
    g_signal_connect(d.provider, "changed", G_CALLBACK(onProvider), &d);

    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid);
    gtk_widget_show_all(dialog);
    const bool closed = gtk_dialog_run(GTK_DIALOG(dialog)) == kClose;
    if (closed) {
        form.theme = gtk_combo_box_get_active(GTK_COMBO_BOX(d.theme));
        form.density = gtk_combo_box_get_active(GTK_COMBO_BOX(d.density));
        for (int i = 0; i < 6; ++i) *flags[i] = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d.checks[i]));
        form.provider = gtk_combo_box_get_active(GTK_COMBO_BOX(d.provider));
        form.base_url = gtk_entry_get_text(GTK_ENTRY(d.base_url));
        form.api_key = gtk_entry_get_text(GTK_ENTRY(d.api_key));
        form.model = gtk_entry_get_text(GTK_ENTRY(d.model));
        form.tools_enabled = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d.tools));
        form.tools_mode = gtk_combo_box_get_active(GTK_COMBO_BOX(d.mode));
        form.extra_instructions = textOf(d.extra);
    }
    gtk_widget_destroy(dialog);
    return closed;
}

}  // namespace nl

#endif
