// The About box that the dialog program and the tpic plug-in share: each module shows it with
// its own name line and its own build date. GTK must be initialised (gtk_init_check) first.
#pragma once

#include <gtk/gtk.h>

// Shows the About box modally over owner (null: no owner) and returns when its close box is
// used; Escape leaves it open, and it has no buttons. name_line is the module's name and
// version ("Qvtpic Ver.0.1"), build_date its own __DATE__ text ("Apr 15 2001"), appended once
// to a fresh "Build: " line at every opening. The build line's widget is named "1002".
void about_show(GtkWindow* owner, const char* name_line, const char* build_date) noexcept;

// The icon the About box shows (32x32, drawn at build time), which is also the dialog
// program's own icon; the caller owns the reference. Null when it cannot be decoded.
GdkPixbuf* ui_icon_pixbuf() noexcept;

// Gives widget and everything inside it the installed face standing in for the Windows dialog
// font windows_face ("ＭＳ 明朝", "MS Serif") at points.
void ui_apply_font(GtkWidget* widget, const char* windows_face, int points) noexcept;
