// Stand-ins for the Windows dialog fonts: the IPA fonts that install-deps brings.
#include <cstring>

#include "about.h"

namespace {
// Both Windows faces are serif faces; IPAMincho draws the Japanese texts and the Latin ones.
const char* installed_face(const char* windows_face) {
    static const struct {
        const char* windows;
        const char* installed;
    } kFaces[] = {{"ＭＳ 明朝", "IPAMincho"}, {"MS Serif", "IPAMincho"}};
    for (const auto& face : kFaces)
        if (windows_face && std::strcmp(face.windows, windows_face) == 0) return face.installed;
    return "IPAMincho";
}

void add_provider(GtkWidget* widget, gpointer provider) {
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                   GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    // forall, not foreach: the labels inside buttons and menu items are internal children.
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), add_provider, provider);
}
}  // namespace

void ui_apply_font(GtkWidget* widget, const char* windows_face, int points) noexcept {
    if (!widget) return;
    gchar* css = g_strdup_printf("* { font-family: \"%s\", serif; font-size: %dpt; }",
                                 installed_face(windows_face), points);
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    g_free(css);
    add_provider(widget, provider);
    g_object_unref(provider);  // the style contexts hold it as long as they need it
}
