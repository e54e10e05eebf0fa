// The size dialog and the About box in GTK, driven in process on a display (run under
// xvfb-run). Each test queues steps on the main loop, then opens the dialog; a step finds its
// widgets by their texts or their control numbers, acts, and checks what stays on screen.
// Screenshots of both dialogs go to the screenshot folder for a person to look at.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "about.h"
#include "quorvel_version.h"
#include "tpic_internal.h"

namespace {
// Steps run one after the other, each from a timeout of its own that is set up before the
// step acts: a step that opens a modal box runs the next steps inside the box's own loop.
class Driver {
   public:
    explicit Driver(std::vector<std::function<void()>> steps) : steps_(steps.begin(), steps.end()) {
        schedule();
        watchdog_ = g_timeout_add_seconds(20, give_up, this);
    }
    ~Driver() {
        if (source_) g_source_remove(source_);
        g_source_remove(watchdog_);
    }
    bool finished() const { return steps_.empty() && !source_; }

   private:
    void schedule() { source_ = steps_.empty() ? 0 : g_timeout_add(150, run_next, this); }
    static gboolean run_next(gpointer data) {
        auto* driver = static_cast<Driver*>(data);
        std::function<void()> step = std::move(driver->steps_.front());
        driver->steps_.pop_front();
        driver->schedule();
        step();
        return G_SOURCE_REMOVE;
    }
    // A dialog that no step could end would hang the run: close every window instead.
    static gboolean give_up(gpointer data) {
        ADD_FAILURE() << "the steps did not end the dialog";
        GList* all = gtk_window_list_toplevels();
        for (GList* item = all; item; item = item->next) gtk_window_close(GTK_WINDOW(item->data));
        g_list_free(all);
        static_cast<Driver*>(data)->steps_.clear();
        return G_SOURCE_CONTINUE;
    }
    std::deque<std::function<void()>> steps_;
    guint source_ = 0;
    guint watchdog_ = 0;
};

void settle() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

std::vector<GtkWidget*> open_windows(const char* title) {
    std::vector<GtkWidget*> found;
    GList* all = gtk_window_list_toplevels();
    for (GList* item = all; item; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        const char* t = gtk_window_get_title(window);
        if (t && std::string(t) == title && gtk_widget_get_visible(GTK_WIDGET(window)))
            found.push_back(GTK_WIDGET(window));
    }
    g_list_free(all);
    return found;
}

GtkWidget* open_window(const char* title) {
    const auto windows = open_windows(title);
    EXPECT_EQ(windows.size(), 1u) << "windows titled " << title;
    return windows.empty() ? nullptr : windows.front();
}

void collect(GtkWidget* widget, gpointer list) {
    static_cast<std::vector<GtkWidget*>*>(list)->push_back(widget);
    if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), collect, list);
}

std::vector<GtkWidget*> widgets(GtkWidget* root) {
    std::vector<GtkWidget*> all;
    if (root) collect(root, &all);
    return all;
}

GtkWidget* named(GtkWidget* root, const char* name) {
    for (GtkWidget* w : widgets(root))
        if (std::string(gtk_widget_get_name(w)) == name) return w;
    ADD_FAILURE() << "no widget named " << name;
    return nullptr;
}

std::vector<std::string> label_texts(GtkWidget* root) {
    std::vector<std::string> texts;
    for (GtkWidget* w : widgets(root))
        if (GTK_IS_LABEL(w) && !GTK_IS_ACCEL_LABEL(w))
            texts.push_back(gtk_label_get_text(GTK_LABEL(w)));
    return texts;
}

GtkWidget* button_labelled(GtkWidget* root, const char* text) {
    for (GtkWidget* w : widgets(root))
        if (GTK_IS_BUTTON(w) && gtk_button_get_label(GTK_BUTTON(w)) &&
            std::string(gtk_button_get_label(GTK_BUTTON(w))) == text)
            return w;
    ADD_FAILURE() << "no button " << text;
    return nullptr;
}

size_t button_count(GtkWidget* root) {
    const auto all = widgets(root);
    return size_t(
        std::count_if(all.begin(), all.end(), [](GtkWidget* w) { return GTK_IS_BUTTON(w); }));
}

// A key pressed and released with the widget in focus, delivered as the display would.
void press(GtkWidget* widget, guint key) {
    gtk_widget_grab_focus(widget);
    GdkDisplay* display = gtk_widget_get_display(widget);
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), key, &keys, &count);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->key.window =
            GDK_WINDOW(g_object_ref(gtk_widget_get_window(gtk_widget_get_toplevel(widget))));
        event->key.send_event = TRUE;
        event->key.time = GDK_CURRENT_TIME;
        event->key.keyval = key;
        if (count) {
            event->key.hardware_keycode = guint16(keys[0].keycode);
            event->key.group = guint8(keys[0].group);
        }
        gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
    g_free(keys);
    settle();
}

void screenshot(GtkWidget* window, const std::string& name) {
    settle();
    GdkWindow* gdk = gtk_widget_get_window(window);
    ASSERT_TRUE(gdk);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdk, 0, 0, gdk_window_get_width(gdk),
                                                 gdk_window_get_height(gdk));
    ASSERT_TRUE(shot);
    std::filesystem::create_directories(QV_SCREENSHOT_DIR);
    const std::string path = std::string(QV_SCREENSHOT_DIR) + "/" + name + ".png";
    EXPECT_TRUE(gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr)) << path;
    g_object_unref(shot);
}

// The family pango settles on for the widget's own font.
std::string resolved_family(GtkWidget* widget) {
    PangoFontDescription* wanted = nullptr;
    gtk_style_context_get(gtk_widget_get_style_context(widget), GTK_STATE_FLAG_NORMAL, "font",
                          &wanted, nullptr);
    PangoFont* font = pango_context_load_font(gtk_widget_get_pango_context(widget), wanted);
    pango_font_description_free(wanted);
    if (!font) return "";
    PangoFontDescription* got = pango_font_describe(font);
    std::string family = pango_font_description_get_family(got);
    pango_font_description_free(got);
    g_object_unref(font);
    return family;
}

struct SizeDialogTest : ::testing::Test {
    GtkWidget* dialog() { return open_window(kTpicCaption); }
    GtkEntry* field() { return GTK_ENTRY(named(dialog(), "1008")); }
    void set_and_press(const char* text) {
        gtk_entry_set_text(field(), text);
        gtk_button_clicked(GTK_BUTTON(button_labelled(dialog(), "設定")));
        settle();
    }
    void close_box(GtkWidget* window) {
        gtk_window_close(GTK_WINDOW(window));
        settle();
    }
};

TEST_F(SizeDialogTest, AcceptedUnchangedGives4000) {
    Driver driver({[&] {
        GtkWidget* window = dialog();
        ASSERT_TRUE(window);
        const auto texts = label_texts(window);
        EXPECT_NE(std::find(texts.begin(), texts.end(), "出力サイズ(minch):"), texts.end());
        EXPECT_STREQ(gtk_entry_get_text(field()), "4000");
        // No owner and no grab: the host's own windows stay usable meanwhile.
        EXPECT_FALSE(gtk_window_get_transient_for(GTK_WINDOW(window)));
        EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(window)));
        EXPECT_FALSE(gtk_grab_get_current());
        EXPECT_EQ(resolved_family(named(window, "1008")), "IPAMincho");
        screenshot(window, "size_dialog");
        gtk_button_clicked(GTK_BUTTON(button_labelled(window, "設定")));
    }});
    EXPECT_EQ(tpic_dialog_gtk(), 4000u);
    EXPECT_TRUE(driver.finished());
    EXPECT_TRUE(open_windows(kTpicCaption).empty()) << "the dialog is gone afterwards";
}

TEST_F(SizeDialogTest, EnterPressesTheDefaultButton) {
    Driver driver({[&] {
        gtk_entry_set_text(field(), "2500");
        press(GTK_WIDGET(field()), GDK_KEY_Return);
    }});
    EXPECT_EQ(tpic_dialog_gtk(), 2500u);
}

TEST_F(SizeDialogTest, NoSizeKeepsItOpenAndTheCloseBoxGivesZero) {
    Driver driver({[&] {
        for (const char* text : {"0", "", "abc", "12a", "  ", "4294967296"}) {
            set_and_press(text);
            EXPECT_EQ(open_windows(kTpicCaption).size(), 1u) << '"' << text << '"';
        }
        press(GTK_WIDGET(field()), GDK_KEY_Return);  // the field still holds no size
        press(GTK_WIDGET(field()), GDK_KEY_Escape);
        press(dialog(), GDK_KEY_Escape);
        EXPECT_EQ(open_windows(kTpicCaption).size(), 1u) << "Escape closed the dialog";
        close_box(dialog());
    }});
    EXPECT_EQ(tpic_dialog_gtk(), 0u);
    EXPECT_TRUE(driver.finished());
}

TEST_F(SizeDialogTest, LeadingBlanksAreReadAsTheField) {
    Driver driver({[&] { set_and_press("  750"); }});
    EXPECT_EQ(tpic_dialog_gtk(), 750u);
}

// Everything the About box shows, checked at one opening.
void check_about(GtkWidget* about, const std::string& name_line, const std::string& date) {
    ASSERT_TRUE(about);
    auto texts = label_texts(about);
    std::vector<std::string> expected = {name_line, "Build: " + date, QUORVEL_COPYRIGHT,
                                         QUORVEL_CONTACT};
    std::sort(texts.begin(), texts.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(texts, expected);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(named(about, "1002"))), ("Build: " + date).c_str());
    GtkWidget* icon = named(about, "1000");
    ASSERT_TRUE(icon && GTK_IS_IMAGE(icon));
    GdkPixbuf* pixbuf = gtk_image_get_pixbuf(GTK_IMAGE(icon));
    ASSERT_TRUE(pixbuf);
    EXPECT_EQ(gdk_pixbuf_get_width(pixbuf), 32);
    EXPECT_EQ(gdk_pixbuf_get_height(pixbuf), 32);
    EXPECT_EQ(button_count(about), 0u) << "the About box has no buttons";
}

TEST_F(SizeDialogTest, AboutShowsThePluginsOwnLinesOnceAtEveryOpening) {
    EXPECT_EQ(std::string(tpic_build_date).size(), 11u) << "\"Mmm dd yyyy\" as __DATE__ has it";
    auto open_about = [&] {
        gtk_menu_item_activate(GTK_MENU_ITEM(named(dialog(), "1001")));  // runs the box
    };
    auto look_and_close = [&](bool shoot) {
        return [&, shoot] {
            GtkWidget* about = open_window("About");
            check_about(about, "Qvtpic Ver.0.1", tpic_build_date);
            // Owned by the size dialog, which takes no input while the box is up.
            EXPECT_EQ(GTK_WIDGET(gtk_window_get_transient_for(GTK_WINDOW(about))), dialog());
            EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(about)));
            press(about, GDK_KEY_Escape);
            EXPECT_EQ(open_windows("About").size(), 1u) << "Escape closed the About box";
            if (shoot) screenshot(about, "about_box");
            close_box(about);
        };
    };
    Driver driver({open_about, look_and_close(true), open_about, look_and_close(false), [&] {
                       EXPECT_TRUE(open_windows("About").empty());
                       EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(named(dialog(), "1001"))),
                                    "_About");
                       close_box(dialog());
                   }});
    EXPECT_EQ(tpic_dialog_gtk(), 0u);
    EXPECT_TRUE(driver.finished());
}

TEST(AboutBox, EachModuleShowsItsOwnNameAndDate) {
    Driver driver({[] {
        GtkWidget* about = open_window("About");
        check_about(about, "Quorvel Ver.0.3", "Dec  1 2026");
        gtk_window_close(GTK_WINDOW(about));
    }});
    about_show(nullptr, "Quorvel Ver.0.3", "Dec  1 2026");
    EXPECT_TRUE(driver.finished());
    EXPECT_TRUE(open_windows("About").empty());
}
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
