// The dialog program's decisions, without a display: texts, the shortened file name, which
// conversions a file allows and which message reports each outcome.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "decisions.h"

namespace {
using namespace quorvelw;

TEST(QuorvelwStrings, TableHoldsTheEightTexts) {
    const struct {
        int id;
        const char* text;
    } cases[] = {
        {2000, "Quorvel"},
        {2001, "変換終了 -> %s"},
        {2002, "画像認識に失敗しました"},
        {2003, "データのデコードに失敗しました"},
        {2004, "変換終了 -> %s"},
        {2005, "データのエンコードに失敗しました"},
        {2006, "画像書き込みに失敗しました"},
        {2007, "システムエラー"},
    };
    for (const auto& c : cases) EXPECT_STREQ(string_text(c.id), c.text) << c.id;
    EXPECT_EQ(string_text(1999), nullptr);
    EXPECT_EQ(string_text(2008), nullptr);
}

TEST(QuorvelwDisplay, LongPathsShowDotsAndTheirLast28Bytes) {
    const std::string p31 = "/home/user/notes/abcdefghij.txt";  // 31 bytes
    const std::string p32 = "/home/user/notes/abcdefghijk.txt";
    ASSERT_EQ(p31.size(), 31u);
    ASSERT_EQ(p32.size(), 32u);
    EXPECT_EQ(display_path(p31.c_str()), p31);
    EXPECT_EQ(display_path(p32.c_str()), "..." + p32.substr(4));
    EXPECT_EQ(display_path(p32.c_str()).size(), 31u);
    EXPECT_EQ(display_path(""), "");
    const std::string deep(1023, 'd');
    EXPECT_EQ(display_path(deep.c_str()), "..." + std::string(28, 'd'));

    // "データ" is three 3-byte characters; here the cut falls on the second byte of "タ", so
    // the shown tail starts behind it and keeps 26 bytes.
    const std::string japanese = "/home/user/データ/abcdefghijklmnopqrstu.txt";
    ASSERT_EQ(japanese.size(), 46u);
    ASSERT_EQ(japanese.substr(17, 3), "タ");
    EXPECT_EQ(display_path(japanese.c_str()), "..." + japanese.substr(20));
}

TEST(QuorvelwPath, TakesPathsThatFitWithTheirNamePosition) {
    char buffer[kBufferSize];
    size_t name = 99;
    ASSERT_TRUE(take_path("/data/notes.txt", buffer, name));
    EXPECT_STREQ(buffer, "/data/notes.txt");
    EXPECT_STREQ(buffer + name, "notes.txt");

    const std::string longest = "/" + std::string(1020, 'x') + "/y";  // 1023 bytes
    ASSERT_TRUE(take_path(longest.c_str(), buffer, name));
    EXPECT_EQ(name, 1022u);
    const std::string tooLong = longest + "z";
    for (const char* refused : {tooLong.c_str(), "/folder/", "noseparator", (const char*)nullptr}) {
        EXPECT_FALSE(take_path(refused, buffer, name)) << (refused ? refused : "null");
        EXPECT_STREQ(buffer, "");
    }
}

TEST(QuorvelwEnabling, ReadNeedsAPictureWriteAPlugInAndAFileThatFits) {
    const struct {
        FileFacts facts;
        bool read, write;
    } cases[] = {
        // picture, listed, opens, length, nameLength
        {{true, true, true, 100, 8}, true, true},              // a small picture: both
        {{false, true, true, 65535 - 9, 8}, false, true},      // exactly 65535
        {{false, true, true, 65535 - 8, 8}, false, false},     // one byte over
        {{true, false, true, 10, 8}, true, false},             // no output plug-in
        {{false, true, false, 0, 8}, false, false},            // does not open
        {{false, true, true, -1, 8}, false, false},            // length cannot be told
        {{false, true, true, 0xFFFFFFFFll, 8}, false, false},  // would wrap in 32 bits
        {{false, true, true, 0, 0}, false, true},              // an empty file packs to 2005
    };
    for (const auto& c : cases) {
        const Enabling e = enabling_for(c.facts);
        EXPECT_EQ(e.read, c.read) << c.facts.length;
        EXPECT_EQ(e.write, c.write) << c.facts.length;
    }
}

TEST(QuorvelwMessages, EachOutcomeHasItsMessageAndIcon) {
    const struct {
        Outcome outcome;
        int id;
        Icon icon;
    } cases[] = {
        {Outcome::FileDialogCancelled, 0, Icon::None},
        {Outcome::DialogClosed, 0, Icon::None},
        {Outcome::DialogFailed, 2007, Icon::Warning},
        {Outcome::NoTemporaryFile, 2007, Icon::Warning},
        {Outcome::ReadNoPicture, 2002, Icon::Warning},
        {Outcome::ReadUnpackFailed, 2003, Icon::Warning},
        {Outcome::ReadDone, 2001, Icon::None},
        {Outcome::WritePackFailed, 2005, Icon::Warning},
        {Outcome::WriteEncodeFailed, 2006, Icon::Warning},
        {Outcome::WriteDone, 2004, Icon::None},
    };
    for (const auto& c : cases) {
        const Report r = report_for(c.outcome, "data.txt.bmp");
        EXPECT_EQ(r.message.id, c.id) << int(c.outcome);
        EXPECT_EQ(r.message.icon, c.icon) << int(c.outcome);
        if (c.id == 2001 || c.id == 2004)
            EXPECT_STREQ(r.text, "変換終了 -> data.txt.bmp");
        else
            EXPECT_STREQ(r.text, c.id ? string_text(c.id) : "");
    }

    const struct {
        int result;
        Action action;
    } results[] = {{0, Action::None},
                   {1, Action::Read},
                   {2, Action::Write},
                   {-1, Action::Failed},
                   {3, Action::Failed}};
    for (const auto& r : results) EXPECT_EQ(action_for(r.result), r.action) << r.result;
}

TEST(QuorvelwMessages, CompletionTextsFitTheirBufferOrAreRefused) {
    // "変換終了 -> " is 16 bytes, so a name of 1007 bytes fills the buffer exactly.
    char out[kBufferSize];
    const std::string fits(1007, 'n');
    ASSERT_TRUE(completion_text(kReadDone, fits.c_str(), out));
    EXPECT_EQ(std::strlen(out), 1023u);
    const std::string over(1008, 'n');
    EXPECT_FALSE(completion_text(kWriteDone, over.c_str(), out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(completion_text(kReadNoPicture, "x", out));  // not a completion

    // A completion that cannot be told is reported as its action's failure, never cut short.
    EXPECT_EQ(report_for(Outcome::ReadDone, over.c_str()).message.id, 2003);
    EXPECT_EQ(report_for(Outcome::WriteDone, over.c_str()).message.id, 2006);

    // Read lets the stored name grow only as far as its completion text still fits.
    for (size_t folder : {size_t(1), size_t(5), size_t(15), size_t(16), size_t(500)}) {
        const size_t capacity = unpack_capacity(folder);
        EXPECT_LE(capacity, kBufferSize);
        const size_t longestName = capacity - 1 - folder;
        EXPECT_LE(16 + longestName, kBufferSize - 1) << folder;
        if (capacity < kBufferSize) {
            EXPECT_EQ(16 + longestName, kBufferSize - 1) << folder;
        }
    }
    EXPECT_TRUE(write_name_fits(255));  // the longest file name of common file systems
    EXPECT_FALSE(write_name_fits(kBufferSize - 16 - kExtensionRoom));
}
}  // namespace
