// quorvelw: the dialog front end. One conversion per start: the user picks a file, the main
// dialog offers Read (picture to data file) and Write (data file to picture through the chosen
// output plug-in), the conversion runs and one message box reports how it ended.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "about.h"
#include "actions.h"
#include "decisions.h"
#include "quorvel.h"
#include "quorvel_version.h"

namespace {
using namespace quorvelw;

// With QUORVELW_ECHO=1 the program also prints what its windows show, one line each, so that
// a script driving it from outside can check texts it cannot read off the screen.
bool echo_wanted() {
    const char* echo = std::getenv("QUORVELW_ECHO");
    return echo && std::strcmp(echo, "1") == 0;
}

void echo_line(const std::string& line) {
    if (!echo_wanted()) return;
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Lets the windows that were taken down disappear before the next one comes up.
void settle() {
    while (gtk_events_pending()) gtk_main_iteration();
}

// Texts from files and plug-ins are bytes; a label needs UTF-8.
std::string shown(const char* bytes) {
    gchar* valid = g_utf8_make_valid(bytes, -1);
    std::string text(valid);
    g_free(valid);
    return text;
}

// The icon a message box shows, read back from the box itself: "warning" or "none".
std::string shown_icon(GtkWidget* box) {
    GtkMessageType type = GTK_MESSAGE_OTHER;
    g_object_get(box, "message-type", &type, nullptr);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* image = gtk_message_dialog_get_image(GTK_MESSAGE_DIALOG(box));
    G_GNUC_END_IGNORE_DEPRECATIONS
    const gchar* name = nullptr;
    if (GTK_IS_IMAGE(image) && gtk_widget_get_visible(image))
        gtk_image_get_icon_name(GTK_IMAGE(image), &name, nullptr);
    const bool warning =
        type == GTK_MESSAGE_WARNING && name && std::strcmp(name, "dialog-warning") == 0;
    return warning ? "warning" : "none";
}

// One message box: no owner, the product name as caption, a single OK button. GTK 3 no longer
// draws the icon of a message type by itself, so a failure gets the warning sign explicitly.
void show_message(const Report& report) {
    if (report.message.id == 0) return;
    const bool warning = report.message.icon == Icon::Warning;
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL,
                                            warning ? GTK_MESSAGE_WARNING : GTK_MESSAGE_OTHER,
                                            GTK_BUTTONS_OK, "%s", shown(report.text).c_str());
    if (warning) {
        GtkWidget* sign = gtk_image_new_from_icon_name("dialog-warning", GTK_ICON_SIZE_DIALOG);
        gtk_widget_show(sign);
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box), sign);
        G_GNUC_END_IGNORE_DEPRECATIONS
        // Setting an image makes the box a plain message again: it stays a warning.
        g_object_set(box, "message-type", GTK_MESSAGE_WARNING, nullptr);
    }
    gtk_window_set_title(GTK_WINDOW(box), string_text(kCaption));
    gtk_window_set_role(GTK_WINDOW(box), "message");
    echo_line(std::string("MESSAGE ") + gtk_window_get_title(GTK_WINDOW(box)) + "|" +
              shown_icon(box) + "|" + report.text);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    settle();
}

// The open-file dialog: any existing file, no name proposed. Afterwards the current folder is
// the chosen file's folder, as Write expects. False when cancelled or when the path cannot be
// kept.
bool choose_file(Session& session) {
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        string_text(kCaption), nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
        GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileFilter* all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, "All Files (*.*)");
    gtk_file_filter_add_pattern(all, "*");  // "*.*" would miss names without a dot here
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), all);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);
    gchar* chosen = nullptr;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT)
        chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    gtk_widget_destroy(dialog);
    settle();
    const bool taken = take_path(chosen, session.path, session.name);
    g_free(chosen);
    if (!taken) return false;
    std::string folder(session.path, session.name);
    return chdir(folder.c_str()) == 0;
}

// ---- The main dialog -------------------------------------------------------------------

struct MainDialog {
    Session* session = nullptr;
    GtkWidget* window = nullptr;
    GtkWidget* name = nullptr;  // the file name label
    GtkWidget* read = nullptr;
    GtkWidget* write = nullptr;
    GtkWidget* list = nullptr;      // the tree view
    GtkWidget* listBox = nullptr;   // its scrolled frame, enabled with it
    GtkListStore* store = nullptr;  // column 0: shown text, column 1: the description's bytes
    GMainLoop* loop = nullptr;
    int result = -1;
};

void end_dialog(MainDialog& d, int result) {
    d.result = result;
    g_main_loop_quit(d.loop);
}

gboolean on_close(GtkWidget*, GdkEvent*, gpointer data) {
    end_dialog(*static_cast<MainDialog*>(data), 0);
    return TRUE;  // taken down by the caller once its loop has ended
}

void on_read(GtkButton*, gpointer data) {
    end_dialog(*static_cast<MainDialog*>(data), 1);
}

void on_write(GtkButton*, gpointer data) {
    MainDialog& d = *static_cast<MainDialog*>(data);
    GtkTreeModel* model = nullptr;
    GtkTreeIter row;
    d.session->selection[0] = '\0';  // nothing selected: any plug-in that renders it
    if (gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(d.list)), &model,
                                        &row)) {
        gchar* description = nullptr;
        gtk_tree_model_get(model, &row, 1, &description, -1);
        g_strlcpy(d.session->selection, description ? description : "",
                  sizeof d.session->selection);
        g_free(description);
    }
    end_dialog(d, 2);
}

void on_about(GtkMenuItem*, gpointer data) {
    about_show(GTK_WINDOW(static_cast<MainDialog*>(data)->window), QUORVEL_PRODUCT, __DATE__);
}

void add_description(void* context, const char* description) {
    GtkListStore* store = static_cast<GtkListStore*>(context);
    GtkTreeIter row;
    gtk_list_store_append(store, &row);
    gtk_list_store_set(store, &row, 0, shown(description).c_str(), 1, description, -1);
}

// The controls sit where the dialog template puts them. Dialog units become pixels by the
// template font: "ＭＳ 明朝" at 12 points is 16 pixels high and 8 wide at 96 dpi, so one unit
// is 8/4 = 2 pixels across and 16/8 = 2 pixels down.
constexpr int kUnit = 2;

void place(GtkWidget* fixed, GtkWidget* control, int x, int y, int width, int height) {
    gtk_widget_set_size_request(control, width * kUnit, height * kUnit);
    gtk_fixed_put(GTK_FIXED(fixed), control, x * kUnit, y * kUnit);
}

GtkWidget* static_text(const char* text, float xalign) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), xalign);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
    // A static control clips its text; a label allowed to shrink does the same in its box.
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    return label;
}

GtkWidget* push_button(const char* mnemonic) {
    GtkWidget* button = gtk_button_new_with_mnemonic(mnemonic);
    if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(button)))
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    return button;
}

// Buttons keep their 14-unit height: the theme's padding would make them taller.
void tighten(GtkWidget* button) {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, "button { padding: 0 4px; min-height: 0; }", -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(button), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

void build_main_dialog(MainDialog& d) {
    d.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(d.window);
    gtk_window_set_title(window, "Quorvel");
    gtk_window_set_role(window, "MAINDIALOG");
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_move(window, 0, 0);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(d.window), column);

    GtkWidget* menu = gtk_menu_bar_new();
    GtkWidget* about = gtk_menu_item_new_with_mnemonic("_About");
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), about);
    g_signal_connect(about, "activate", G_CALLBACK(on_about), &d);
    gtk_box_pack_start(GTK_BOX(column), menu, FALSE, FALSE, 0);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, 260 * kUnit, 47 * kUnit);
    gtk_box_pack_start(GTK_BOX(column), fixed, FALSE, FALSE, 0);

    place(fixed, static_text("ファイル名:", 1.0f), 1, 1, 44, 8);
    d.name = static_text(shown(display_path(d.session->path).c_str()).c_str(), 0.0f);
    gtk_widget_set_name(d.name, "1003");
    place(fixed, d.name, 47, 1, 126, 8);
    d.read = push_button("画像ファイルをデータファイルに変換 (_Read)");
    gtk_widget_set_name(d.read, "1004");
    place(fixed, d.read, 0, 10, 174, 14);
    d.write = push_button("データファイルを画像ファイルに変換 (_Write)");
    gtk_widget_set_name(d.write, "1005");
    place(fixed, d.write, 0, 24, 174, 14);
    place(fixed, static_text("出力画像ファイル", 0.5f), 175, 1, 84, 8);

    d.store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_STRING);
    d.list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(d.store));
    gtk_widget_set_name(d.list, "1006");
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(d.list), FALSE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(d.list), FALSE);
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(d.list), -1, "",
                                                gtk_cell_renderer_text_new(), "text", 0, nullptr);
    d.listBox = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(d.listBox), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(d.listBox), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(d.listBox), d.list);
    place(fixed, d.listBox, 175, 11, 84, 29);

    ui_apply_font(fixed, "ＭＳ 明朝", 12);
    tighten(d.read);
    tighten(d.write);

    g_signal_connect(d.window, "delete-event", G_CALLBACK(on_close), &d);
    g_signal_connect(d.read, "clicked", G_CALLBACK(on_read), &d);
    g_signal_connect(d.write, "clicked", G_CALLBACK(on_write), &d);
}

// Switches off what cannot apply to the file, and preselects the first plug-in otherwise.
void set_up(MainDialog& d) {
    const bool listed = plugin_list(add_description, d.store) != 0;
    const Enabling enabling = enabling_for(file_facts(*d.session, listed));
    gtk_widget_set_sensitive(d.read, enabling.read);
    gtk_widget_set_sensitive(d.write, enabling.write);
    gtk_widget_set_sensitive(d.listBox, enabling.write);
    GtkTreeIter first;
    if (enabling.write && gtk_tree_model_get_iter_first(GTK_TREE_MODEL(d.store), &first))
        gtk_tree_selection_select_iter(gtk_tree_view_get_selection(GTK_TREE_VIEW(d.list)), &first);
}

void echo_dialog(const MainDialog& d) {
    if (!echo_wanted()) return;
    std::string list, selected;
    GtkTreeModel* model = GTK_TREE_MODEL(d.store);
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(d.list));
    GtkTreeIter row;
    for (bool more = gtk_tree_model_get_iter_first(model, &row); more;
         more = gtk_tree_model_iter_next(model, &row)) {
        gchar* text = nullptr;
        gtk_tree_model_get(model, &row, 0, &text, -1);
        list += (list.empty() ? "" : ";") + std::string(text ? text : "");
        if (gtk_tree_selection_iter_is_selected(selection, &row)) selected = text ? text : "";
        g_free(text);
    }
    echo_line(std::string("MAINDIALOG ") + gtk_label_get_text(GTK_LABEL(d.name)) +
              "|read=" + (gtk_widget_get_sensitive(d.read) ? "1" : "0") +
              "|write=" + (gtk_widget_get_sensitive(d.write) ? "1" : "0") +
              "|list=" + (gtk_widget_get_sensitive(d.listBox) ? "1" : "0") + "|" + list +
              "|selected=" + selected);
}

// Runs the main dialog modally; its result is 0 (closed), 1 (Read) or 2 (Write).
int run_main_dialog(Session& session) {
    MainDialog d;
    d.session = &session;
    d.loop = g_main_loop_new(nullptr, FALSE);
    build_main_dialog(d);
    set_up(d);
    gtk_widget_show_all(d.window);
    echo_dialog(d);
    g_main_loop_run(d.loop);
    gtk_widget_destroy(d.window);
    g_object_unref(d.store);
    g_main_loop_unref(d.loop);
    settle();
    return d.result;
}

void run() {
    Session session;
    if (!choose_file(session)) return;
    Outcome outcome = Outcome::DialogClosed;
    switch (action_for(run_main_dialog(session))) {
        case Action::None:
            outcome = Outcome::DialogClosed;
            break;
        case Action::Read:
            outcome = read_action(session);
            break;
        case Action::Write:
            outcome = write_action(session);
            break;
        case Action::Failed:
            outcome = Outcome::DialogFailed;
            break;
    }
    show_message(report_for(outcome, session.path + session.name));
}
}  // namespace

// Every path ends with status 0: the program reports through its message boxes.
int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "quorvelw: cannot open a display\n");
        return 0;
    }
    // The same picture as the About box's icon; installed as "quorvel" for the desktop.
    if (GdkPixbuf* icon = ui_icon_pixbuf()) {
        gtk_window_set_default_icon(icon);
        g_object_unref(icon);
    }
    try {
        run();
    } catch (...) {  // out of memory for a text: nothing more can be shown
    }
    return 0;
}
