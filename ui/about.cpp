// The About box: icon, name line, build line, copyright and contact, closed by its close box.
#include "about.h"

#include <cstring>

#include "quorvel_version.h"

namespace {
#include "about_icon.inc"  // kAboutIconPng: drawn at build time by qv_icongen

constexpr char kBuildTemplate[] = "Build: ";

}  // namespace

GdkPixbuf* ui_icon_pixbuf() noexcept {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (!loader) return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    const bool read = gdk_pixbuf_loader_write(loader, kAboutIconPng, sizeof kAboutIconPng, nullptr);
    if (gdk_pixbuf_loader_close(loader, nullptr) && read) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf) g_object_ref(pixbuf);
    }
    g_object_unref(loader);
    return pixbuf;
}

namespace {

GtkWidget* centred_label(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_widget_set_halign(label, GTK_ALIGN_CENTER);
    return label;
}

// The build line reads the label's own text back and appends the date, so the date lands
// behind the template's text exactly once whatever became of earlier boxes.
void append_build_date(GtkLabel* label, const char* build_date) {
    char text[1024];
    g_strlcpy(text, gtk_label_get_text(label), sizeof text);
    g_strlcat(text, build_date ? build_date : "", sizeof text);
    gtk_label_set_text(label, text);
}

gboolean on_close(GtkWidget*, GdkEvent*, gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return TRUE;  // the box is taken down once its loop has ended
}
}  // namespace

void about_show(GtkWindow* owner, const char* name_line, const char* build_date) noexcept {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "About");
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), TRUE);
    if (owner) {
        gtk_window_set_transient_for(GTK_WINDOW(window), owner);
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    }

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 2);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 6);
    gtk_container_add(GTK_CONTAINER(window), grid);

    GdkPixbuf* pixbuf = ui_icon_pixbuf();
    GtkWidget* icon = pixbuf ? gtk_image_new_from_pixbuf(pixbuf) : gtk_image_new();
    if (pixbuf) g_object_unref(pixbuf);
    gtk_widget_set_name(icon, "1000");
    gtk_widget_set_valign(icon, GTK_ALIGN_START);
    gtk_grid_attach(GTK_GRID(grid), icon, 0, 0, 1, 2);

    GtkWidget* name = centred_label(name_line ? name_line : "");
    gtk_widget_set_hexpand(name, TRUE);
    gtk_grid_attach(GTK_GRID(grid), name, 1, 0, 1, 1);

    GtkWidget* build = gtk_label_new(kBuildTemplate);
    gtk_widget_set_name(build, "1002");
    gtk_widget_set_halign(build, GTK_ALIGN_END);
    gtk_grid_attach(GTK_GRID(grid), build, 1, 1, 1, 1);

    gtk_grid_attach(GTK_GRID(grid), centred_label(QUORVEL_COPYRIGHT), 0, 2, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), centred_label(QUORVEL_CONTACT), 0, 3, 2, 1);

    append_build_date(GTK_LABEL(build), build_date);
    ui_apply_font(window, "MS Serif", 12);

    // A window of its own rather than a GtkDialog: a GtkDialog closes on Escape, this box only
    // on its close box.
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_signal_connect(window, "delete-event", G_CALLBACK(on_close), loop);
    gtk_widget_show_all(window);
    g_main_loop_run(loop);
    gtk_widget_destroy(window);
    g_main_loop_unref(loop);
}
