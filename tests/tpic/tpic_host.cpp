// A console-style host for the tpic plug-in's tests: loads the built plug-in, has it plot,
// unloads it, as often as asked in one process, and prints each result and path.
//   tpic_host plot PATH TIMES MINX MINY MAXX MAXY [X,Y,SIZE ...]
//       dots oldest first; no dots: a null chain; PATH "-": a null path
//   tpic_host info LENGTH
//       the description in a 1024-byte buffer of 'U's, non-'U' bytes up to the last printed,
//       a NUL as "\0"
//   tpic_host encode DATAFILE PATH TIMES
//       packs the file and lays it out as the console does, rendered by "LaTeX2e"; then
//       prints "locale NAME", the program's locale, which the plug-in must leave as it was
// Prints "RESULT PATH" per call on standard output.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "quorvel.h"
#include "test_support.h"

namespace {
int plot(int argc, char** argv) {
    if (argc < 7) return 2;
    const bool null_path = std::strcmp(argv[2], "-") == 0;
    const int times = std::atoi(argv[3]);
    int32_t bounds[4];
    for (int i = 0; i < 4; ++i)
        bounds[i] = int32_t(uint32_t(std::strtoll(argv[4 + i], nullptr, 0)));
    std::vector<Dot> dots(size_t(argc - 8 > 0 ? argc - 8 : 0));
    for (size_t i = 0; i < dots.size(); ++i) {
        int x, y, size;
        if (std::sscanf(argv[8 + i], "%d,%d,%d", &x, &y, &size) != 3) return 2;
        dots[i] = Dot{int16_t(x), int16_t(y), uint16_t(size), i ? &dots[i - 1] : nullptr};
    }
    const Dot* chain = dots.empty() ? nullptr : &dots.back();
    const std::string module = qvtest::bin_dir() + "/qvtpic.qvp";
    for (int i = 0; i < times; ++i) {
        char path[QV_PATH_MAX] = {};
        if (!null_path) std::snprintf(path, sizeof path, "%s", argv[2]);
        void* library = platform_load(module.c_str());
        auto qvplot = reinterpret_cast<QvPlotFn>(platform_symbol(library, "qvplot"));
        if (!qvplot) return 3;
        const int32_t result =
            qvplot(chain, bounds[0], bounds[1], bounds[2], bounds[3], null_path ? nullptr : path);
        platform_unload(library);
        std::printf("%d %s\n", result, null_path ? "-" : path);
        std::fflush(stdout);
    }
    return 0;
}

int info(int argc, char** argv) {
    if (argc != 3) return 2;
    void* library = platform_load((qvtest::bin_dir() + "/qvtpic.qvp").c_str());
    auto qvinfo = reinterpret_cast<QvInfoFn>(platform_symbol(library, "qvinfo"));
    if (!qvinfo) return 3;
    char buffer[QV_PATH_MAX];
    std::memset(buffer, 'U', sizeof buffer);
    const int32_t result = qvinfo(buffer, uint32_t(std::atoi(argv[2])));
    platform_unload(library);
    size_t end = sizeof buffer;
    while (end && buffer[end - 1] == 'U') --end;
    std::printf("%d ", result);
    for (size_t i = 0; i < end; ++i) buffer[i] ? std::putchar(buffer[i]) : std::printf("\\0");
    std::printf(" %zu\n", end);
    return 0;
}

int encode(int argc, char** argv) {
    if (argc != 5) return 2;
    qvtest::set_program_path(qvtest::bin_dir() + "/quorvel");
    const int times = std::atoi(argv[4]);
    for (int i = 0; i < times; ++i) {
        char path[QV_PATH_MAX] = {};
        std::snprintf(path, sizeof path, "%s", argv[3]);
        FILE* stream = std::tmpfile();
        if (!stream) return 3;
        uint32_t bytes = 0;
        if (payload_pack(argv[2], stream)) {
            std::rewind(stream);
            bytes = dot_encode(stream, path, "LaTeX2e");
        }
        std::fclose(stream);
        std::printf("%u %s\n", bytes, path);
        std::fflush(stdout);
    }
    std::printf("locale %s\n", std::setlocale(LC_ALL, nullptr));
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "plot") == 0) return plot(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "encode") == 0) return encode(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "info") == 0) return info(argc, argv);
    std::fprintf(stderr, "usage: %s plot|encode ...\n", argv[0]);
    return 2;
}
