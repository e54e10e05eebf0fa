// The dialog program driven from outside as a user drives it, on the X display the test runs
// under (xvfb-run): keys through xdotool, the close box through the window manager's own
// message, windows found by their role. The program echoes what its windows show
// (QUORVELW_ECHO=1), and screenshots of its windows go to the build's screenshots folder.
#include <gtest/gtest.h>
// After GoogleTest: Xlib's macros (None, Bool, Status) would clash with its names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quorvel.h"
#include "test_support.h"

namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kShots = QV_SCREENSHOT_DIR;
constexpr auto kPatience = 30s;  // a window's arrival or the program's end, ASan build included

// Runs a helper program (xdotool, import) to its end; its exit status, -1 when it failed.
int run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int ignore_x_errors(Display*, XErrorEvent*) {
    return 0;
}  // windows vanish while we look

// The display the program shows its windows on.
class Screen {
   public:
    Screen() : display_(XOpenDisplay(nullptr)) { XSetErrorHandler(ignore_x_errors); }
    ~Screen() {
        if (display_) XCloseDisplay(display_);
    }
    bool open() const { return display_ != nullptr; }

    // The viewable top-level window of process pid with this role (WM_WINDOW_ROLE, or the
    // title for windows without a role); 0 when there is none.
    Window find(pid_t pid, const std::string& role) {
        Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (!XQueryTree(display_, root, &root, &parent, &children, &count)) return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            XWindowAttributes a;
            if (!XGetWindowAttributes(display_, children[i], &a) || a.map_state != IsViewable)
                continue;
            if (cardinal(children[i], "_NET_WM_PID") != long(pid)) continue;
            std::string r = text(children[i], "WM_WINDOW_ROLE");
            if (r.empty()) r = text(children[i], "_NET_WM_NAME");
            if (r == role) found = children[i];
        }
        if (children) XFree(children);
        return found;
    }

    // What a window manager sends when the close box is pressed.
    void close(Window w) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = long(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, w, False, NoEventMask, &e);
        XFlush(display_);
    }

    int height(Window w) {
        XWindowAttributes a;
        return XGetWindowAttributes(display_, w, &a) ? a.height : 0;
    }

   private:
    std::string text(Window w, const char* name) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        std::string value;
        if (XGetWindowProperty(display_, w, XInternAtom(display_, name, False), 0, 1024, False,
                               AnyPropertyType, &type, &format, &items, &after, &data) == Success &&
            data && format == 8)
            value.assign(reinterpret_cast<char*>(data), items);
        if (data) XFree(data);
        return value;
    }
    long cardinal(Window w, const char* name) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        long value = -1;
        if (XGetWindowProperty(display_, w, XInternAtom(display_, name, False), 0, 1, False,
                               XA_CARDINAL, &type, &format, &items, &after, &data) == Success &&
            data && items == 1)
            value = *reinterpret_cast<long*>(data);
        if (data) XFree(data);
        return value;
    }

    Display* display_;
};

class Quorvelw : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_TRUE(screen_.open()) << "no X display: run under xvfb-run -a";
        fs::create_directories(kShots);
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // Places the program with these output plug-ins and every image-import plug-in in a folder
    // of its own and starts it there.
    void start(const std::vector<std::string>& outputPlugins) {
        for (const auto& entry : fs::directory_iterator(program_.path())) fs::remove(entry);
        fs::copy_file(qvtest::bin_dir() + "/quorvelw", program_ / "quorvelw");
        qvtest::stage(program_.path(), outputPlugins);
        for (const auto& entry : fs::directory_iterator(qvtest::bin_dir()))
            if (entry.path().extension() == ".spi")
                fs::copy_file(entry.path(), program_ / entry.path().filename().string());
        out_ = home_ / "out.txt";
        pid_ = fork();
        if (pid_ == 0) {
            FILE* out = std::freopen(out_.c_str(), "w", stdout);
            if (!out || chdir(home_.path().c_str()) != 0) _exit(126);
            // A home of its own, and no desktop services to wait for.
            setenv("HOME", home_.path().c_str(), 1);
            setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
            setenv("XDG_DATA_HOME", (home_ / "data").c_str(), 1);
            setenv("XDG_CACHE_HOME", (home_ / "cache").c_str(), 1);
            setenv("GSETTINGS_BACKEND", "memory", 1);
            setenv("NO_AT_BRIDGE", "1", 1);
            setenv("GIO_USE_VFS", "local", 1);
            setenv("QUORVELW_ECHO", "1", 1);
            // GTK and fontconfig keep caches for the life of the process, which
            // LeakSanitizer would report as leaks; everything else of ASan stays on.
            std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
            setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "detect_leaks=0").c_str(),
                   1);
            const std::string program = program_ / "quorvelw";
            execl(program.c_str(), program.c_str(), (char*)nullptr);
            _exit(127);
        }
        ASSERT_GT(pid_, 0);
    }

    // Waits for the program's window of this role; fails the test when it does not come.
    Window await(const std::string& role) {
        for (auto end = Clock::now() + kPatience; Clock::now() < end;) {
            if (Window w = screen_.find(pid_, role)) {
                std::this_thread::sleep_for(200ms);  // let it draw before keys and pictures
                return w;
            }
            if (exited()) break;
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "no window " << role;
        return 0;
    }

    void keys(Window w, const std::vector<std::string>& names) {
        if (!w) return;
        run({"xdotool", "windowfocus", "--sync", std::to_string(w)});
        std::vector<std::string> args{"xdotool", "key", "--delay", "50"};
        args.insert(args.end(), names.begin(), names.end());
        EXPECT_EQ(run(args), 0);
    }

    // Picks a file in the open-file dialog by typing its path into its location bar.
    void choose(const std::string& path) {
        Window chooser = await("GtkFileChooserDialog");
        if (!chooser) return;
        keys(chooser, {"ctrl+l"});
        EXPECT_EQ(run({"xdotool", "type", "--delay", "10", path}), 0);
        // The first Return may only close the completion list under the location bar.
        for (auto end = Clock::now() + kPatience; Clock::now() < end;) {
            keys(chooser, {"Delete", "Return"});
            for (int i = 0; i < 20 && screen_.find(pid_, "GtkFileChooserDialog"); ++i)
                std::this_thread::sleep_for(50ms);
            if (!screen_.find(pid_, "GtkFileChooserDialog")) return;
        }
        ADD_FAILURE() << "the open-file dialog did not take " << path;
    }

    void screenshot(Window w, const std::string& name) {
        if (!w) return;
        EXPECT_EQ(run({"import", "-window", std::to_string(w), kShots + "/" + name}), 0);
    }

    bool exited() {
        int status = 0;
        if (pid_ <= 0) return true;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = 0;
        return true;
    }

    // Waits for the program's end; its exit status, -1 when it did not end normally in time.
    int finish() {
        for (auto end = Clock::now() + kPatience; Clock::now() < end;) {
            if (exited()) return status_;
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "the program did not end";
        return -1;
    }

    // What the program echoed, one entry per line.
    std::vector<std::string> echoed() const {
        std::ifstream in(out_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // The main dialog's echo line for this file with the states given.
    static std::string dialog_line(const std::string& path, const std::string& rest) {
        const std::string shown = path.size() <= 31 ? path : "..." + path.substr(path.size() - 28);
        return "MAINDIALOG " + shown + "|" + rest;
    }

    std::string at(const std::string& name) const { return data_ / name; }

    // Dismisses the message box (its OK button is the default) and checks its text.
    void expect_message(const std::string& line, const std::string& shot = "") {
        Window box = await("message");
        if (!shot.empty()) screenshot(box, shot);
        keys(box, {"Return"});
        EXPECT_EQ(finish(), 0);
        const std::vector<std::string> lines = echoed();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], line);
    }

    // A picture of these payload bytes as the bitmap plug-in draws it, in the data folder.
    // A picture of the payload, drawn by the bitmap plug-in of the build.
    std::string picture_of(const Bytes& payload, const std::string& name) {
        qvtest::run_from(qvtest::bin_dir());
        std::string drawn = qvtest::draw_bitmap(payload, at(name));
        EXPECT_EQ(drawn, at(name) + ".bmp");
        return drawn;
    }

    Screen screen_;
    qvtest::TempDir program_, data_, home_;
    std::string out_;
    pid_t pid_ = 0;
    int status_ = -1;
};

TEST_F(Quorvelw, CancelledFileDialogEndsWithoutAWord) {
    start({"qvbmp.qvp"});
    Window chooser = await("GtkFileChooserDialog");
    screenshot(chooser, "quorvelw-open.png");
    keys(chooser, {"Escape"});
    EXPECT_EQ(finish(), 0);
    EXPECT_TRUE(echoed().empty());
}

TEST_F(Quorvelw, MainDialogClosesOnlyByItsCloseBoxAndShowsAbout) {
    qvtest::write_file(at("notes.txt"), {'k', 'e', 'y', '\n'});
    start({"qvbmp.qvp"});
    choose(at("notes.txt"));
    Window dialog = await("MAINDIALOG");
    screenshot(dialog, "quorvelw-main.png");

    // Escape is no way out; the About box comes and goes, twice, and the dialog stays.
    keys(dialog, {"Escape"});
    for (int i = 0; i < 2; ++i) {
        keys(dialog, {"alt+a"});
        Window about = await("About");
        if (i == 0) screenshot(about, "quorvelw-about.png");
        screen_.close(about);
        for (auto end = Clock::now() + kPatience;
             screen_.find(pid_, "About") && Clock::now() < end;)
            std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(screen_.find(pid_, "About"));
    }
    EXPECT_FALSE(exited());
    EXPECT_TRUE(screen_.find(pid_, "MAINDIALOG"));

    screen_.close(dialog);
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(echoed(), std::vector<std::string>{dialog_line(
                            at("notes.txt"),
                            "read=0|write=1|list=1|Windows Bitmap|selected=Windows Bitmap")});
    EXPECT_FALSE(fs::exists(at("notes.txt.bmp")));
}

TEST_F(Quorvelw, WriteThenReadBackBesideThePicture) {
    const Bytes text = {'k', 'e', 'y', ' ', '=', ' ', '4', '2', '\n'};
    qvtest::write_file(at("notes.txt"), text);
    start({"qvbmp.qvp"});
    choose(at("notes.txt"));
    keys(await("MAINDIALOG"), {"alt+w"});
    expect_message("MESSAGE Quorvel|none|変換終了 -> notes.txt.bmp", "quorvelw-message.png");
    ASSERT_TRUE(fs::exists(at("notes.txt.bmp")));

    // The payload keeps the bare name: read back in another folder, the file lands there.
    fs::create_directory(at("back"));
    fs::rename(at("notes.txt.bmp"), at("back/notes.txt.bmp"));
    start({"qvbmp.qvp"});
    choose(at("back/notes.txt.bmp"));
    Window dialog = await("MAINDIALOG");
    screenshot(dialog, "quorvelw-main.png");
    keys(dialog, {"alt+r"});
    expect_message("MESSAGE Quorvel|none|変換終了 -> notes.txt");
    EXPECT_EQ(echoed()[0],
              dialog_line(at("back/notes.txt.bmp"),
                          "read=1|write=1|list=1|Windows Bitmap|selected=Windows Bitmap"));
    EXPECT_EQ(qvtest::read_file(at("back/notes.txt")), text);
    EXPECT_FALSE(fs::exists(home_ / "notes.txt"));  // not in the program's starting folder
}

TEST_F(Quorvelw, PicturesThatDoNotReadBack) {
    // A picture without dots; a chain whose checksum is one off, whose file is still written.
    GrayImage* blank = gray_create(64, 64);
    ASSERT_NE(gray_write_bmp(at("blank.bmp").c_str(), 1, blank), 0u);
    gray_free(blank);
    const std::string bad = picture_of(qvtest::make_payload("bad.txt", {'a', 'b', 'c'}, 1), "bad");
    const struct {
        std::string picture, message;
    } cases[] = {
        {at("blank.bmp"), "MESSAGE Quorvel|warning|画像認識に失敗しました"},
        {bad, "MESSAGE Quorvel|warning|データのデコードに失敗しました"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picture);
        start({"qvbmp.qvp"});
        choose(c.picture);
        keys(await("MAINDIALOG"), {"alt+r"});
        expect_message(c.message, c.picture == bad ? "quorvelw-warning.png" : "");
    }
    EXPECT_EQ(qvtest::read_file(at("bad.txt")), (Bytes{'a', 'b', 'c'}));
}

TEST_F(Quorvelw, WriteThroughThePlugInTheUserPicks) {
    // Two plug-ins each time, the first preselected; the user picks the second. The tpic
    // plug-in asks for its size in a window of its own, whose field starts at 4000.
    qvtest::write_file(at("notes.txt"), {'x'});
    const struct {
        std::string plugin, listed, message;
    } cases[] = {
        {"tp_fail.qvp", "Test Fail", "MESSAGE Quorvel|warning|画像書き込みに失敗しました"},
        {"qvtpic.qvp", "LaTeX2e tpic special", "MESSAGE Quorvel|none|変換終了 -> notes.txt.tpic"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plugin);
        start({"qvbmp.qvp", c.plugin});
        choose(at("notes.txt"));
        Window dialog = await("MAINDIALOG");
        // The list starts 22 pixels below the menu bar; its second row lies some 35 lower.
        const int menu = screen_.height(dialog) - 94;
        run({"xdotool", "mousemove", "--window", std::to_string(dialog), "434",
             std::to_string(menu + 22 + 35), "click", "1"});
        std::this_thread::sleep_for(200ms);
        keys(dialog, {"alt+w"});
        if (c.plugin == "qvtpic.qvp") keys(await("Qvtpic"), {"Return"});
        expect_message(c.message);
        EXPECT_EQ(echoed()[0],
                  dialog_line(at("notes.txt"), "read=0|write=1|list=1|Windows Bitmap;" + c.listed +
                                                   "|selected=Windows Bitmap"));
        EXPECT_FALSE(fs::exists(at("notes.txt.bmp")));
    }
    EXPECT_TRUE(fs::exists(at("notes.txt.tpic")));
}

TEST_F(Quorvelw, WhatTheFileAllowsIsSwitchedOnBeforeTheUserChooses) {
    // Not pictures; "big.dat" with its name and terminator one byte over a payload's 65535,
    // "full.dat" exactly at it; "small.dat" with no output plug-in installed.
    qvtest::write_file(at("big.dat"), Bytes(65535 - 7, 'x'));
    qvtest::write_file(at("full.dat"), Bytes(65535 - 9, 'x'));
    qvtest::write_file(at("small.dat"), Bytes(10, 'x'));
    const struct {
        std::string file;
        std::vector<std::string> plugins;
        std::string states;
    } cases[] = {
        {"big.dat", {"qvbmp.qvp"}, "read=0|write=0|list=0|Windows Bitmap|selected="},
        {"small.dat", {}, "read=0|write=0|list=0||selected="},
        {"full.dat", {"qvbmp.qvp"}, "read=0|write=1|list=1|Windows Bitmap|selected=Windows Bitmap"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        start(c.plugins);
        choose(at(c.file));
        Window dialog = await("MAINDIALOG");
        if (c.file == "big.dat") {
            // Disabled buttons do nothing, whatever the keys.
            screenshot(dialog, "quorvelw-disabled.png");
            keys(dialog, {"alt+r", "alt+w", "Return", "space"});
            std::this_thread::sleep_for(300ms);
            EXPECT_FALSE(exited());
        }
        screen_.close(dialog);
        EXPECT_EQ(finish(), 0);
        EXPECT_EQ(echoed(), std::vector<std::string>{dialog_line(at(c.file), c.states)});
    }
}
}  // namespace
