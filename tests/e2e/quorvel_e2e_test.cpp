// The console program run as a user runs it, in a temporary folder, through the real plug-ins.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "quorvel.h"
#include "quorvel_version.h"
#include "run_program.h"
#include "test_support.h"

namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kProgram = qvtest::bin_dir() + "/quorvel";

class Console : public ::testing::Test {
   protected:
    qvtest::Run quorvel(const std::vector<std::string>& args) {
        return qvtest::run_program(kProgram, args, dir_.path().string());
    }
    std::string at(const std::string& name) const { return dir_ / name; }
    // Whatever a run prints after its two banner lines.
    static std::string after_banner(const std::string& out) {
        size_t first = out.find('\n');
        size_t second = first == std::string::npos ? first : out.find('\n', first + 1);
        return second == std::string::npos ? "" : out.substr(second + 1);
    }
    // A picture of the payload bytes, drawn by the bitmap plug-in as the program would draw it.
    // A picture of the payload, drawn by the bitmap plug-in of the build.
    std::string picture_of(const Bytes& payload, const std::string& name) {
        qvtest::run_from(qvtest::bin_dir());
        std::string drawn = qvtest::draw_bitmap(payload, at(name));
        EXPECT_EQ(drawn, at(name) + ".bmp");
        return drawn;
    }

    qvtest::TempDir dir_;
};

TEST_F(Console, BannerUsageAndPlugInListing) {
    qvtest::Run run = quorvel({});
    EXPECT_EQ(run.status, 0);
    const std::regex banner("Quorvel Ver\\.0\\.3  \\(Build: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}\\)");
    const std::string first = run.out.substr(0, run.out.find('\n'));
    EXPECT_TRUE(std::regex_match(first, banner)) << first;
    EXPECT_EQ(run.out.substr(first.size() + 1, std::strlen(QUORVEL_COPYRIGHT) + 1),
              QUORVEL_COPYRIGHT "\n");
    std::string rest = after_banner(run.out);
    EXPECT_EQ(rest.substr(0, rest.find(" \"")),
              "usage: quorvel [-read] [-write <plugin>] <file...>\nplugin:\n");
    EXPECT_NE(rest.find(" \"Windows Bitmap\"\n"), std::string::npos) << rest;
    EXPECT_EQ(run.err, "");

    // Alone in a folder, the program lists nothing after "plugin:".
    fs::copy_file(kProgram, at("quorvel"));
    qvtest::Run alone = qvtest::run_program(at("quorvel"), {}, dir_.path().string());
    EXPECT_EQ(after_banner(alone.out),
              "usage: quorvel [-read] [-write <plugin>] <file...>\nplugin:\n");
}

TEST_F(Console, ArgumentsSwitchModes) {
    qvtest::write_file(at("b"), {'b'});
    qvtest::write_file(at("c"), {'c'});
    qvtest::Run run = quorvel({"a", "-write", "Windows", "b", "c", "-read", "d", "-write"});
    EXPECT_EQ(after_banner(run.out), "-> b.bmp\n-> c.bmp\n");
    EXPECT_EQ(run.err, "read error: a\nread error: d\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(fs::exists(at("b.bmp")) && fs::exists(at("c.bmp")));

    // The argument after "-write" is the selection even when it reads "-write"; options must
    // match exactly, anything else names a file.
    struct Case {
        std::vector<std::string> args;
        std::string out, err;
        int status;
    } cases[] = {
        {{"-write"}, "", "", 0},
        {{"-write", "-write", "b"}, "", "write error: b\n", 1},
        {{"-write", "Nothing like it", "b"}, "", "write error: b\n", 1},
        {{"-write", "Windows", "-Read", "-read", "-WRITE"},
         "",
         "encode error: -Read\nread error: -WRITE\n",
         1},
        {{"-write", "", "b"}, "-> b.bmp\n", "", 0},  // empty selection: the first that renders
    };
    for (const Case& c : cases) {
        qvtest::Run r = quorvel(c.args);
        EXPECT_EQ(after_banner(r.out), c.out) << c.args.size();
        EXPECT_EQ(r.err, c.err) << c.args.size();
        EXPECT_EQ(r.status, c.status) << c.args.size();
    }
}

TEST_F(Console, FilesThatCannotBeWritten) {
    qvtest::write_file(at("empty.txt"), {});
    qvtest::write_file(at("big.bin"),
                       Bytes(65535 - 7, 'x'));  // with "big.bin" and its terminator: 1 over
    qvtest::Run run = quorvel({"-write", "Windows", "empty.txt", "missing.txt", "big.bin"});
    EXPECT_EQ(run.err,
              "encode error: empty.txt\nencode error: missing.txt\nencode error: big.bin\n");
    EXPECT_EQ(after_banner(run.out), "");
    EXPECT_EQ(run.status, 1);

    // An argument longer than the work buffer is refused whole, naming it.
    const std::string longName(1100, 'n');
    qvtest::Run tooLong = quorvel({"-write", "Windows", longName, "-read", longName});
    EXPECT_EQ(tooLong.err, "name too long: " + longName + "\nname too long: " + longName + "\n");
    EXPECT_EQ(tooLong.status, 1);
}

TEST_F(Console, TextAndBinaryFilesRoundTrip) {
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(uint8_t(i));
    all.insert(all.end(), {0, 0, 0});
    const Bytes text = {'k', 'e', 'y', ' ', '=', ' ', '4', '2', '\n'};
    fs::create_directory(at("sub"));
    qvtest::write_file(at("notes.txt"), text);
    qvtest::write_file(at("sub/all.bin"), all);
    qvtest::Run write = quorvel({"-write", "Windows", "notes.txt", "sub/all.bin"});
    ASSERT_EQ(after_banner(write.out), "-> notes.txt.bmp\n-> sub/all.bin.bmp\n") << write.err;
    ASSERT_EQ(write.status, 0);

    // Read back elsewhere: the names are stored as typed, folders included.
    fs::create_directory(at("back"));
    fs::create_directory(at("back/sub"));
    fs::rename(at("notes.txt.bmp"), at("back/notes.txt.bmp"));
    fs::rename(at("sub/all.bin.bmp"), at("back/all.bin.bmp"));
    qvtest::Run read = qvtest::run_program(kProgram, {"notes.txt.bmp", "all.bin.bmp"}, at("back"));
    EXPECT_EQ(after_banner(read.out), "-> notes.txt\n-> sub/all.bin\n") << read.err;
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(qvtest::read_file(at("back/notes.txt")), text);
    EXPECT_EQ(qvtest::read_file(at("back/sub/all.bin")), all);
}

TEST_F(Console, PicturesThatCannotBeRead) {
    qvtest::write_file(at("plain.txt"), {'n', 'o', ' ', 'p', 'i', 'c'});
    qvtest::write_file(at("empty.bmp"), {});
    const std::string bad = picture_of(qvtest::make_payload("bad.txt", {'a', 'b', 'c'}, 1), "bad");
    const std::string climbing = picture_of(qvtest::make_payload("../up.txt", {'u'}), "up");
    const std::string absolute = picture_of(qvtest::make_payload("/abs.txt", {'z'}), "abs");
    qvtest::Run run = quorvel({"plain.txt", "empty.bmp", "missing.bmp", bad, climbing, absolute});
    EXPECT_EQ(run.err,
              "read error: plain.txt\nread error: empty.bmp\nread error: missing.bmp\n"
              "decode error: " +
                  bad + "\ndecode error: " + climbing + "\n");
    // A wrong checksum still leaves the file; an absolute name lands inside the folder.
    EXPECT_EQ(qvtest::read_file(at("bad.txt")), (Bytes{'a', 'b', 'c'}));
    EXPECT_FALSE(fs::exists(dir_.path().parent_path() / "up.txt"));
    EXPECT_EQ(after_banner(run.out), "-> abs.txt\n");
    EXPECT_EQ(qvtest::read_file(at("abs.txt")), Bytes{'z'});
    EXPECT_EQ(run.status, 1);
}
}  // namespace
