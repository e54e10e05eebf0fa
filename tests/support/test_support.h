// Shared helpers of the unit tests: temporary folders, the program's place, file bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace qvtest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
   public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

   private:
    std::filesystem::path path_;
};

// Where the engine believes the running program lies; empty makes the lookup fail.
void set_program_path(const std::string& path);

// Copies built plug-ins (file names as built) into folder; test plug-ins come from the test
// plug-in folder, shipped ones from the program folder.
void stage(const std::filesystem::path& folder, const std::vector<std::string>& files);
// Places the "program" in folder: the engine then searches plug-ins there.
void run_from(const std::filesystem::path& folder);

// A temporary folder with the given plug-ins beside the "program"; the test plug-ins append
// their calls to calls.log there (through QV_TEST_LOG) and calls() reads it.
class PluginFolder {
   public:
    explicit PluginFolder(const std::vector<std::string>& files);
    ~PluginFolder();
    const std::filesystem::path& path() const { return dir_.path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    std::string calls() const;

   private:
    TempDir dir_;
};

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Reads the picture at path with dot_decode; the bytes written, and the result in *result.
std::vector<uint8_t> decode_picture(const std::string& path, uint32_t* result = nullptr);

// The payload of a file stored as name holding data; checksum_error is added to its checksum.
std::vector<uint8_t> make_payload(const std::string& name, const std::vector<uint8_t>& data,
                                  int checksum_error = 0);
// Lays bytes out as a dot chain and has the output plug-in "Windows Bitmap", searched beside
// the "program" as usual, draw it at path + ".bmp". Returns the name written; path itself
// when nothing was drawn.
std::string draw_bitmap(const std::vector<uint8_t>& bytes, const std::string& path);

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_stream(FILE* stream);  // from the start to the end

std::string bin_dir();          // the built programs and plug-ins
std::string test_plugin_dir();  // the test-only plug-ins

}  // namespace qvtest
