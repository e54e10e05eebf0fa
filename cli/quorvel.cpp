// quorvel: the console front end. Converts every file named on the command line in the mode
// then in force (read by default, "-write <plugin>" to write) and reports each in one line.
#include <cstdio>
#include <cstring>
#include <memory>

#include "quorvel.h"
#include "quorvel_version.h"

namespace {
struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using TempFile = std::unique_ptr<FILE, FileCloser>;

// One path at a time: the engine and the plug-ins extend it in place.
using WorkBuffer = char[QV_PATH_MAX];

void print_usage(const char* argv0) {
    WorkBuffer work = "";
    std::snprintf(work, sizeof work, "%s", argv0 ? argv0 : "quorvel");
    const char* name = std::strrchr(work, '/');
    name = name ? name + 1 : work;
    if (char* dot = std::strrchr(const_cast<char*>(name), '.')) *dot = '\0';
    std::printf("usage: %s [-read] [-write <plugin>] <file...>\n", name);
    std::printf("plugin:\n");
    plugin_list([](void*, const char* description) { std::printf(" \"%s\"\n", description); },
                nullptr);
}

// Reports one file's failure in one line naming the argument; always false.
bool fail(const char* format, const char* argument) {
    std::fprintf(stderr, format, argument);
    return false;
}

// Starts one file: a copy of its argument in the work buffer and a fresh temporary stream.
// Null, after the line that names the argument, when either cannot be had.
TempFile begin_file(WorkBuffer& work, const char* argument) {
    if (std::strlen(argument) >= sizeof work) {
        fail("name too long: %s\n", argument);
        return nullptr;
    }
    TempFile payload(std::tmpfile());
    if (!payload) {
        fail("system error: %s\n", argument);
        return nullptr;
    }
    std::strcpy(work, argument);
    return payload;
}

bool write_file(const char* argument, const char* selection) {
    WorkBuffer work;
    TempFile payload = begin_file(work, argument);
    if (!payload) return false;
    if (!payload_pack(work, payload.get())) return fail("encode error: %s\n", argument);
    std::rewind(payload.get());
    if (!dot_encode(payload.get(), work, selection)) return fail("write error: %s\n", argument);
    std::printf("-> %s\n", work);
    return true;
}

bool read_file(const char* argument) {
    WorkBuffer work;
    TempFile payload = begin_file(work, argument);
    if (!payload) return false;
    if (!dot_decode(work, payload.get())) return fail("read error: %s\n", argument);
    std::rewind(payload.get());
    work[0] = '\0';  // the stored name is written relative to the current folder
    if (!payload_unpack(payload.get(), work, sizeof work))
        return fail("decode error: %s\n", argument);
    std::printf("-> %s\n", work);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    std::printf("%s  (Build: %s)\n%s\n", QUORVEL_PRODUCT, __DATE__, QUORVEL_COPYRIGHT);
    if (argc <= 1) {
        print_usage(argc == 1 ? argv[0] : nullptr);
        return 0;
    }
    const char* selection = nullptr;  // none: read mode
    bool awaiting = false;
    bool failed = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        // The argument after "-write" is the selection, even when it reads like an option.
        if (awaiting) {
            selection = argument;
            awaiting = false;
        } else if (std::strcmp(argument, "-read") == 0) {
            selection = nullptr;
        } else if (std::strcmp(argument, "-write") == 0) {
            awaiting = true;
        } else {
            // Keep the order of lines on a terminal and in a shared log alike.
            std::fflush(stdout);
            bool done = selection ? write_file(argument, selection) : read_file(argument);
            failed = failed || !done;
        }
    }
    // Scripts see whether every file was converted.
    return failed ? 1 : 0;
}
