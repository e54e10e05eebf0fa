// The size dialog: caption "Qvtpic", one field that starts at 4000, a default button and a
// menu bar whose one item opens the About box. Without a display it asks on the terminal.
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "about.h"
#include "tpic_internal.h"

const char tpic_build_date[] = __DATE__;

namespace {
constexpr char kNameLine[] = "Qvtpic Ver.0.1";

struct SizeDialog {
    GMainLoop* loop;
    GtkWidget* window;
    GtkEntry* field;
    uint32_t result;
};

// The button (or Enter, through the default button): a nonzero size ends the dialog; 0, an
// empty field or anything that is no unsigned number leaves it open without a word.
void on_set(GtkButton*, gpointer data) {
    auto* dialog = static_cast<SizeDialog*>(data);
    if (const uint32_t size = tpic_parse_size(gtk_entry_get_text(dialog->field))) {
        dialog->result = size;
        g_main_loop_quit(dialog->loop);
    }
}

gboolean on_close(GtkWidget*, GdkEvent*, gpointer data) {
    auto* dialog = static_cast<SizeDialog*>(data);
    dialog->result = 0;
    g_main_loop_quit(dialog->loop);
    return TRUE;  // taken down once the loop has ended
}

void on_about(GtkMenuItem*, gpointer data) {
    about_show(GTK_WINDOW(static_cast<SizeDialog*>(data)->window), kNameLine, tpic_build_date);
}

bool display_named() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

// GTK takes the process's locale from the environment when it starts; the host keeps its own.
bool gtk_ready() {
    if (gdk_display_get_default()) return true;  // the host runs GTK already
    if (!display_named()) return false;
    gchar* saved = g_strdup(std::setlocale(LC_ALL, nullptr));
    const bool ready = gtk_init_check(nullptr, nullptr);
    std::setlocale(LC_ALL, saved ? saved : "C");
    g_free(saved);
    return ready;
}
}  // namespace

uint32_t tpic_dialog_gtk() noexcept {
    SizeDialog dialog{g_main_loop_new(nullptr, FALSE), gtk_window_new(GTK_WINDOW_TOPLEVEL), nullptr,
                      0};
    GtkWindow* window = GTK_WINDOW(dialog.window);
    gtk_window_set_title(window, kTpicCaption);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    // Owned by none of the host's windows (the plug-in is not told them) and holding no grab:
    // the caller waits in the dialog's loop, its other windows stay usable.

    GtkWidget* rows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), rows);

    GtkWidget* menu_bar = gtk_menu_bar_new();
    GtkWidget* about = gtk_menu_item_new_with_mnemonic("_About");
    gtk_widget_set_name(about, "1001");
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_bar), about);
    gtk_box_pack_start(GTK_BOX(rows), menu_bar, FALSE, FALSE, 0);

    GtkWidget* line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_container_set_border_width(GTK_CONTAINER(line), 4);
    gtk_box_pack_start(GTK_BOX(rows), line, FALSE, FALSE, 0);

    GtkWidget* label = gtk_label_new(kTpicSizeLabel);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_box_pack_start(GTK_BOX(line), label, FALSE, FALSE, 0);

    GtkWidget* field = gtk_entry_new();
    dialog.field = GTK_ENTRY(field);
    gtk_widget_set_name(field, "1008");
    gtk_entry_set_width_chars(dialog.field, 6);
    char start[16];
    std::snprintf(start, sizeof start, "%u", kTpicDefaultSize);
    gtk_entry_set_text(dialog.field, start);
    gtk_entry_set_activates_default(dialog.field, TRUE);
    gtk_box_pack_start(GTK_BOX(line), field, FALSE, FALSE, 0);

    GtkWidget* button = gtk_button_new_with_label("設定");
    gtk_widget_set_name(button, "1007");
    gtk_widget_set_can_default(button, TRUE);
    gtk_box_pack_start(GTK_BOX(line), button, FALSE, FALSE, 0);
    gtk_window_set_default(window, button);

    ui_apply_font(dialog.window, "ＭＳ 明朝", 12);
    g_signal_connect(button, "clicked", G_CALLBACK(on_set), &dialog);
    g_signal_connect(about, "activate", G_CALLBACK(on_about), &dialog);
    // No Escape binding: a plain window, not a GtkDialog, so only the close box cancels.
    g_signal_connect(dialog.window, "delete-event", G_CALLBACK(on_close), &dialog);

    gtk_widget_show_all(dialog.window);
    gtk_widget_grab_focus(field);
    g_main_loop_run(dialog.loop);

    gtk_widget_destroy(dialog.window);
    g_main_loop_unref(dialog.loop);
    // Let the window go from the screen before the caller goes on (the console runs no loop).
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return dialog.result;
}

uint32_t tpic_ask_size() noexcept {
    if (gtk_ready()) return tpic_dialog_gtk();
    return tpic_prompt(stdin, stderr);
}
