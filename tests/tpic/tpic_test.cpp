// The tpic plug-in: the picture's text, the size field's reading, the terminal face of the
// size dialog, and the built plug-in driven through standard input without a display.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "tpic_internal.h"

namespace {
namespace fs = std::filesystem;

// The text tpic_write gives for a chain given oldest dot first.
std::string picture(std::vector<Dot> dots, int32_t minx, int32_t miny, int32_t maxx, int32_t maxy,
                    uint32_t size) {
    for (size_t i = 1; i < dots.size(); ++i) dots[i].link = &dots[i - 1];
    FILE* out = std::tmpfile();
    tpic_write(out, dots.empty() ? nullptr : &dots.back(), minx, miny, maxx, maxy, size);
    const std::vector<uint8_t> bytes = qvtest::read_stream(out);
    std::fclose(out);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        result.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return result;
}

std::string dot_line(const std::string& centre_and_radii) {
    return "\\special{sh 1}\\special{ia " + centre_and_radii + " 0.000000 6.283185}%";
}

const std::string kUnitLine = "\\setlength{\\unitlength}{.001in}";
const std::string kEndLine = "\\end{picture}";

// The start dot alone, radius 9 in a 19 by 19 box, at the size the dialog offers.
const std::string kStartDotPicture =
    "\\setlength{\\unitlength}{.001in}\r\n"
    "\\begin{picture}(4000,4000)(-1895,-1895)\r\n"
    "\\special{sh 1}\\special{ia 0 0 1895 1895 0.000000 6.283185}%\r\n"
    "\\end{picture}\r\n";

TEST(TpicWrite, StartDotAloneByteForByte) {
    EXPECT_EQ(picture({{0, 0, 9, nullptr}}, -9, -9, 9, 9, 4000), kStartDotPicture);
}

TEST(TpicWrite, ScaleFromTheLongerSideAndSignsOfTheCentre) {
    // 100 by 50 units at 4000: 40 thousandths of an inch per unit. x keeps its sign, y turns.
    const auto wide =
        lines(picture({{3, 5, 2, nullptr}, {-10, -20, 1, nullptr}}, 0, 0, 99, 49, 4000));
    const std::vector<std::string> expected = {kUnitLine, "\\begin{picture}(4000,2000)(0,0)",
                                               dot_line("-400 800 40 40"),
                                               dot_line("120 -200 80 80"), kEndLine};
    EXPECT_EQ(wide, expected);
    // Taller than wide: the height sets the scale; the lower left corner is scaled as well.
    const auto tall = lines(picture({{0, 0, 1, nullptr}}, -25, -50, 24, 49, 2000));
    EXPECT_EQ(tall[1], "\\begin{picture}(1000,2000)(-500,-1000)");
    // Square: the width is taken, which gives the same scale.
    const auto square = lines(picture({{1, 1, 1, nullptr}}, 0, 0, 9, 9, 1000));
    EXPECT_EQ(square[1], "\\begin{picture}(1000,1000)(0,0)");
    EXPECT_EQ(square[2], dot_line("100 -100 100 100"));
}

TEST(TpicWrite, DotsInChainOrderNewestFirst) {
    const auto text = lines(
        picture({{0, 0, 9, nullptr}, {1, 0, 5, nullptr}, {2, 0, 6, nullptr}, {3, 0, 4, nullptr}},
                -9, -9, 9, 9, 1900));  // 100 per unit
    ASSERT_EQ(text.size(), 7u);
    EXPECT_EQ(text[2], dot_line("300 0 400 400"));
    EXPECT_EQ(text[3], dot_line("200 0 600 600"));
    EXPECT_EQ(text[4], dot_line("100 0 500 500"));
    EXPECT_EQ(text[5], dot_line("0 0 900 900"));
}

TEST(TpicWrite, OnlyTheLowHalfOfEachBoundSlotCounts) {
    const std::string clean = picture({{0, 0, 9, nullptr}}, -9, -9, 9, 9, 4000);
    EXPECT_EQ(picture({{0, 0, 9, nullptr}}, int32_t(0x1234FFF7u), int32_t(0xFFFFFFF7u),
                      int32_t(0xABCD0009u), 0x7FFF0009, 4000),
              clean);
}

TEST(TpicWrite, BoxesOfOneUnitAndOfTheWholeRangeDivideByNoZero) {
    struct Case {
        int32_t minx, miny, maxx, maxy;
        std::string box;
    } cases[] = {
        {0, 0, 0, 0, "\\begin{picture}(4000,4000)(0,0)"},
        // 65535 units each way: no wrap, a scale just above 4000 / 65536.
        {-32768, -32768, 32766, 32766, "\\begin{picture}(4000,4000)(-2000,-2000)"},
        // All 65536 values: the width wraps to 0 in 16 bits and is taken at its true length.
        {-32768, -32768, 32767, 32767, "\\begin{picture}(4000,4000)(-2000,-2000)"},
        {-32768, 0, 32767, 0, "\\begin{picture}(4000,0)(-2000,0)"},
    };
    for (const Case& c : cases) {
        const auto text =
            lines(picture({{0, 0, 0, nullptr}}, c.minx, c.miny, c.maxx, c.maxy, 4000));
        ASSERT_EQ(text.size(), 4u);
        EXPECT_EQ(text[1], c.box) << c.minx << " " << c.maxx;
        EXPECT_EQ(text[2], dot_line("0 0 0 0"));
    }
}

TEST(TpicParseSize, ReadsLikeAnUnsignedDialogField) {
    struct Case {
        const char* text;
        uint32_t size;
    } cases[] = {{"4000", 4000},
                 {"  12", 12},
                 {"\t7", 7},
                 {"007", 7},
                 {"4294967295", 4294967295u},
                 {"0", 0},
                 {"", 0},
                 {"   ", 0},
                 {"abc", 0},
                 {"12a", 0},
                 {"12 ", 0},
                 {"+5", 0},
                 {"-5", 0},
                 {"4294967296", 0},
                 {"1e3", 0},
                 {"99999999999999999999999", 0},
                 {"出力", 0}};
    for (const Case& c : cases) EXPECT_EQ(tpic_parse_size(c.text), c.size) << '"' << c.text << '"';
    EXPECT_EQ(tpic_parse_size(nullptr), 0u);
}

struct Prompted {
    uint32_t size;
    int asks;  // how often the prompt was shown
};

Prompted prompt(const std::string& input) {
    FILE* in = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    FILE* out = std::tmpfile();
    const uint32_t size = tpic_prompt(in, out);
    const std::vector<uint8_t> shown = qvtest::read_stream(out);
    std::fclose(in);
    std::fclose(out);
    const std::string text(shown.begin(), shown.end());
    int asks = 0;
    for (size_t at = 0; (at = text.find("出力サイズ(minch): [4000]", at)) != std::string::npos;
         ++at)
        ++asks;
    return {size, asks};
}

TEST(TpicPrompt, AsksUntilANonzeroSizeOrTheEndOfInput) {
    struct Case {
        std::string input;
        uint32_t size;
        int asks;
    } cases[] = {
        {"\n", 4000, 1},                             // an empty line takes the value shown
        {"2000\n", 2000, 1},                         // a positive number is taken
        {"0\nabc\n12x\n\n", 4000, 4},                // 0 and no numbers ask again
        {"0\n-1\n  300\r\n", 300, 3},                // leading blanks, a CR LF terminal
        {"75", 75, 1},                               // the last line needs no line end
        {"", 0, 1},                                  // end of input closes the dialog
        {"0\nabc\n", 0, 3},                          // ... also after answers that were no size
        {std::string(2000, '1') + "\n5\n", 5, 2},    // longer than the field: no size
        {std::string("1\0002\n", 4) + "9\n", 9, 2},  // a NUL byte is no digit
    };
    for (const Case& c : cases) {
        const Prompted p = prompt(c.input);
        EXPECT_EQ(p.size, c.size) << c.input.substr(0, 20);
        EXPECT_EQ(p.asks, c.asks) << c.input.substr(0, 20);
    }
    EXPECT_EQ(tpic_prompt(nullptr, stderr), 0u);
}

// The built plug-in in a process of its own, without a display, answers from input.
struct HostRun {
    std::vector<std::string> results;  // "RESULT PATH" per call
    std::string prompts;               // what the plug-in showed on standard error
};

std::string quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

HostRun run_host(const std::vector<std::string>& args, const std::string& input) {
    qvtest::TempDir io;
    qvtest::write_file(io / "in", std::vector<uint8_t>(input.begin(), input.end()));
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + quoted(QV_TPIC_HOST);
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " <" + quoted(io / "in") + " >" + quoted(io / "out") + " 2>" + quoted(io / "err");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    HostRun run;
    const auto out = qvtest::read_file(io / "out");
    const std::string text(out.begin(), out.end());
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        run.results.push_back(text.substr(start, end - start));
    const auto err = qvtest::read_file(io / "err");
    run.prompts.assign(err.begin(), err.end());
    return run;
}

std::string file_text(const std::string& path) {
    const auto bytes = qvtest::read_file(path);
    return {bytes.begin(), bytes.end()};
}

class TpicPlugin : public ::testing::Test {
   protected:
    qvtest::TempDir dir;
    std::vector<std::string> start_dot(const std::string& path, int times = 1) {
        return {"plot", path, std::to_string(times), "-9", "-9", "9", "9", "0,0,9"};
    }
};

TEST_F(TpicPlugin, AcceptedUnchangedWritesTheStartDotAt4000) {
    const std::string path = dir / "data.txt";
    const HostRun run = run_host(start_dot(path), "\n");
    EXPECT_EQ(run.results, std::vector<std::string>{"1 " + path + ".tpic"});
    EXPECT_EQ(file_text(path + ".tpic"), kStartDotPicture);
    EXPECT_NE(run.prompts.find("出力サイズ(minch): [4000]"), std::string::npos) << run.prompts;
    EXPECT_FALSE(fs::exists(path)) << "only the extended name is written";
}

TEST_F(TpicPlugin, RefusedAnswersAskAgainThenTheSizeIsUsed) {
    const std::string path = dir / "p";
    const std::vector<std::string> args = {"plot", path, "1", "0", "0", "99", "49", "3,5,2"};
    struct Case {
        std::string input, box;
    } cases[] = {
        {"0\nabc\n\n", "\\begin{picture}(4000,2000)(0,0)"},
        {"0\n 12a\n2000\n", "\\begin{picture}(2000,1000)(0,0)"},
    };
    for (const Case& c : cases) {
        const HostRun run = run_host(args, c.input);
        EXPECT_EQ(run.results, std::vector<std::string>{"1 " + path + ".tpic"});
        const auto text = lines(file_text(path + ".tpic"));
        ASSERT_EQ(text.size(), 4u);
        EXPECT_EQ(text[1], c.box);
    }
}

TEST_F(TpicPlugin, ClosedDialogWritesNothing) {
    const std::string path = dir / "closed";
    for (const std::string input : {"", "0\nabc\n"}) {
        const HostRun run = run_host(start_dot(path), input);
        EXPECT_EQ(run.results, std::vector<std::string>{"0 " + path});
        EXPECT_FALSE(fs::exists(path + ".tpic"));
        EXPECT_NE(run.prompts.find("[4000]"), std::string::npos);
    }
}

// A path of exactly length characters under root, in folders short enough for the system.
std::string long_path(const qvtest::TempDir& root, size_t length) {
    std::string path = root.path().string();
    while (length - path.size() > 201) {
        path += "/" + std::string(199, 'f');
        fs::create_directory(path);
    }
    return path + "/" + std::string(length - path.size() - 1, 'n');
}

TEST_F(TpicPlugin, RefusedBeforeAnyDialog) {
    // Null chain, null path, and a name without room for ".tpic" in 1024 bytes: no prompt.
    qvtest::TempDir deep;
    const std::string fits = long_path(deep, 1018), too_long = fits + "x";
    struct Case {
        std::vector<std::string> args;
        std::string result;
    } cases[] = {
        {{"plot", dir / "nochain", "1", "-9", "-9", "9", "9"}, "0 " + (dir / "nochain")},
        {{"plot", "-", "1", "-9", "-9", "9", "9", "0,0,9"}, "0 -"},
        {start_dot(too_long), "0 " + too_long},
    };
    for (const Case& c : cases) {
        const HostRun run = run_host(c.args, "\n");
        EXPECT_EQ(run.results, std::vector<std::string>{c.result});
        EXPECT_EQ(run.prompts, "") << "asked although refused";
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_FALSE(fs::exists(too_long + ".tpic"));
    // One character less and the name with its extension fills the buffer exactly.
    const HostRun run = run_host(start_dot(fits), "\n");
    EXPECT_EQ(run.results, std::vector<std::string>{"1 " + fits + ".tpic"});
    EXPECT_EQ(file_text(fits + ".tpic"), kStartDotPicture);
}

TEST_F(TpicPlugin, LoadedTwiceInOneProcessAppendsOnceEachTime) {
    const std::string path = dir / "twice";
    const HostRun run = run_host(start_dot(path, 2), "3800\n\n");
    const std::vector<std::string> expected(2, "1 " + path + ".tpic");
    EXPECT_EQ(run.results, expected);
    EXPECT_EQ(file_text(path + ".tpic"), kStartDotPicture) << "the second call starts at 4000";
}

TEST_F(TpicPlugin, DescriptionByTheStrncpyRule) {
    const std::string description = "LaTeX2e tpic special";
    std::string zeros;
    for (size_t i = description.size(); i < 1023; ++i) zeros += "\\0";
    struct Case {
        std::string length, shown;
    } cases[] = {
        {"0", "1  0"},
        {"5", "1 LaTeX 5"},
        {"1023", "1 " + description + zeros + " 1023"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run_host({"info", c.length}, "").results, std::vector<std::string>{c.shown});
}

TEST_F(TpicPlugin, EncodedFileMakesOneDotLinePerDot) {
    // The console's path: the file is stored under its path as given, so the payload holds
    // 4 + name + 1 + 5 bytes, 8 dots each, behind the start dot and the marker.
    const std::string data = dir / "d";
    qvtest::write_file(data, {'h', 'e', 'l', 'l', 'o'});
    qvtest::TempDir out;
    const HostRun run = run_host({"encode", data, out / "d", "1"}, "\n");
    const size_t payload = 4 + data.size() + 1 + 5;
    EXPECT_EQ(run.results, (std::vector<std::string>{
                               std::to_string(payload) + " " + (out / "d") + ".tpic", "locale C"}));
    const auto text = lines(file_text(out / "d.tpic"));
    ASSERT_EQ(text.size(), 3 + 2 + 8 * payload);
    EXPECT_EQ(text.back(), kEndLine);
    EXPECT_EQ(text[text.size() - 2].rfind("\\special{sh 1}\\special{ia 0 0 ", 0), 0u)
        << "the start dot comes last";
}

}  // namespace
