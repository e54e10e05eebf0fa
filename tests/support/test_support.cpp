#include "test_support.h"

#include "quorvel.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qvtest {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "qvtest-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string bin_dir() {
    return QV_TEST_BIN_DIR;
}
std::string test_plugin_dir() {
    return QV_TEST_PLUGIN_DIR;
}

void stage(const fs::path& folder, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        fs::path from = fs::path(test_plugin_dir()) / file;
        if (!fs::exists(from)) from = fs::path(bin_dir()) / file;
        fs::copy_file(from, folder / file, fs::copy_options::overwrite_existing);
    }
}

void run_from(const fs::path& folder) {
    set_program_path((folder / "quorvel").string());
}

PluginFolder::PluginFolder(const std::vector<std::string>& files) {
    stage(path(), files);
    run_from(path());
    setenv("QV_TEST_LOG", (dir_ / "calls.log").c_str(), 1);
}

PluginFolder::~PluginFolder() {
    unsetenv("QV_TEST_LOG");
}

std::string PluginFolder::calls() const {
    std::vector<uint8_t> log = read_file(dir_ / "calls.log");
    return std::string(log.begin(), log.end());
}

std::vector<uint8_t> make_payload(const std::string& name, const std::vector<uint8_t>& data,
                                  int checksum_error) {
    std::vector<uint8_t> out(4 + name.size() + 1 + data.size());
    std::copy(name.begin(), name.end(), out.begin() + 4);
    std::copy(data.begin(), data.end(), out.begin() + 4 + name.size() + 1);
    const uint16_t n = uint16_t(out.size() - 4);
    const uint8_t length[2] = {uint8_t(n), uint8_t(n >> 8)};
    out[0] = 0x0A;
    out[1] = uint8_t(payload_sum(out.data() + 4, n, payload_sum(length, 2, 0)) + checksum_error);
    out[2] = length[0];
    out[3] = length[1];
    return out;
}

std::string draw_bitmap(const std::vector<uint8_t>& bytes, const std::string& path) {
    File in(std::tmpfile());
    if (!in) return path;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), in.get());
    std::rewind(in.get());
    char out[QV_PATH_MAX];
    std::snprintf(out, sizeof out, "%s", path.c_str());
    dot_encode(in.get(), out, "Windows Bitmap");
    return out;
}

std::vector<uint8_t> decode_picture(const std::string& path, uint32_t* result) {
    File stream(std::tmpfile());
    const uint32_t count = dot_decode(path.c_str(), stream.get());
    if (result) *result = count;
    return read_stream(stream.get());
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> read_stream(FILE* stream) {
    std::vector<uint8_t> bytes;
    std::rewind(stream);
    for (int c; (c = std::fgetc(stream)) != EOF;) bytes.push_back(uint8_t(c));
    return bytes;
}

}  // namespace qvtest
