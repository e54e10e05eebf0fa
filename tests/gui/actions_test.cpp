// The dialog program's Read and Write actions without a display, through the real plug-ins:
// above all, names too long for the 1024-byte buffers are refused and nothing is written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "actions.h"
#include "quorvel.h"
#include "test_support.h"

namespace {
namespace fs = std::filesystem;
using namespace quorvelw;
using Bytes = std::vector<uint8_t>;

// The dialog program works in the chosen file's folder; the test returns where it was.
class InFolder {
   public:
    explicit InFolder(const fs::path& folder) : before_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~InFolder() { fs::current_path(before_); }

   private:
    fs::path before_;
};

// A folder with a short path ("/tmp/qvXXXXXX"), for names that reach the buffer's end.
class ShortDir {
   public:
    ShortDir() {
        char name[] = "/tmp/qvXXXXXX";
        if (mkdtemp(name)) path_ = name;
    }
    ~ShortDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

   private:
    std::string path_;
};

Session session_for(const std::string& path) {
    Session s;
    EXPECT_TRUE(take_path(path.c_str(), s.path, s.name)) << path;
    std::snprintf(s.selection, sizeof s.selection, "%s", "Windows Bitmap");
    return s;
}

// Folders below base whose names bring base's path to length bytes, ending in a separator.
std::string deep_folder(const std::string& base, size_t length) {
    std::string path = base + "/";
    while (path.size() < length) {
        const size_t part = std::min<size_t>(200, length - path.size() - 1);
        path += std::string(std::max<size_t>(part, 1), 'd') + "/";
        fs::create_directory(path);
    }
    return path;
}

class QuorvelwActions : public ::testing::Test {
   protected:
    void SetUp() override { qvtest::run_from(qvtest::bin_dir()); }
};

TEST_F(QuorvelwActions, WriteExtendsThePathOrRefusesWithoutWriting) {
    qvtest::TempDir dir;
    qvtest::write_file(dir / "notes.txt", {'n', 'o', 't', 'e', 's'});
    qvtest::write_file(dir / "empty.txt", {});
    {
        InFolder in(dir.path());
        Session s = session_for(dir / "notes.txt");
        ASSERT_EQ(write_action(s), Outcome::WriteDone);
        EXPECT_STREQ(s.path + s.name, "notes.txt.bmp");
        EXPECT_TRUE(fs::exists(dir / "notes.txt.bmp"));

        Session empty = session_for(dir / "empty.txt");
        EXPECT_EQ(write_action(empty), Outcome::WritePackFailed);
        EXPECT_FALSE(fs::exists(dir / "empty.txt.bmp"));
    }

    // A data file whose path leaves no room for ".bmp" in 1023 bytes is not drawn at all.
    ShortDir base;
    ASSERT_FALSE(base.path().empty());
    for (size_t total : {size_t(1019), size_t(1020)}) {
        const std::string folder = deep_folder(base.path(), total - 9);
        const std::string file = folder + "notes.txt";
        ASSERT_EQ(file.size(), total);
        qvtest::write_file(file, {'x'});
        InFolder in(folder);
        Session s = session_for(file);
        if (total == 1019) {
            EXPECT_EQ(write_action(s), Outcome::WriteDone);
            EXPECT_EQ(std::strlen(s.path), 1023u);
            EXPECT_TRUE(fs::exists(file + ".bmp"));
        } else {
            EXPECT_EQ(write_action(s), Outcome::WriteEncodeFailed);
            EXPECT_EQ(std::string(s.path), file);
            EXPECT_FALSE(fs::exists(file + ".bmp"));
        }
    }
}

// A payload of these bytes under a stored name, drawn as a bitmap at path (+ ".bmp").
std::string picture(const std::string& path, const std::string& name, const Bytes& data) {
    std::string drawn = qvtest::draw_bitmap(qvtest::make_payload(name, data), path);
    EXPECT_EQ(drawn, path + ".bmp");
    return drawn;
}

TEST_F(QuorvelwActions, ReadKeepsTheStoredNameWithinWhatItsMessageCanShow) {
    // Picture folder "/tmp/qvXXXXXX/" (14 bytes): the stored name may take 1007 bytes, so that
    // "変換終了 -> " (16 bytes) and the name fill the message's 1023 exactly; one more is
    // refused before anything is written, though the path itself would still fit.
    ShortDir base;
    ASSERT_EQ(base.path().size(), 13u);
    const std::string inner = deep_folder(base.path(), 14 + 1000);  // folders of the name
    const std::string folders = inner.substr(14);
    for (size_t nameLength : {size_t(1007), size_t(1008)}) {
        const std::string stored = folders + std::string(nameLength - folders.size(), 'f');
        ASSERT_EQ(stored.size(), nameLength);
        Session s = session_for(picture(base.path() + "/pic", stored, {'o', 'k'}));
        const std::string written = base.path() + "/" + stored;
        if (nameLength == 1007) {
            ASSERT_EQ(read_action(s), Outcome::ReadDone);
            EXPECT_EQ(std::string(s.path + s.name), stored);
            EXPECT_EQ(qvtest::read_file(written), (Bytes{'o', 'k'}));
            EXPECT_EQ(std::strlen(report_for(Outcome::ReadDone, s.path + s.name).text), 1023u);
        } else {
            EXPECT_EQ(read_action(s), Outcome::ReadUnpackFailed);
            EXPECT_FALSE(fs::exists(written));
        }
    }
}
}  // namespace
