// Output plug-ins for the host's tests, one source built several ways (see CMakeLists.txt).
// Each appends what it was asked to the file named by QV_TEST_LOG, so a test can see which
// plug-ins were called, in what order and with what.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qvplugin.h"

namespace {
void record(const char* line) {
    const char* log = std::getenv("QV_TEST_LOG");
    if (!log) return;
    if (FILE* f = std::fopen(log, "a")) {
        std::fprintf(f, "%s %s\n", TP_ID, line);
        std::fclose(f);
    }
}
}  // namespace

QV_EXTERN_C QV_EXPORT int32_t QV_CALL qvinfo(char* buffer, uint32_t length) noexcept {
    char line[64];
    std::snprintf(line, sizeof line, "info %u", length);
    record(line);
#if TP_FILL
    std::memset(buffer, 'F', length);  // every offered byte, no terminator
#else
    std::strncpy(buffer, TP_DESCRIPTION, length);
#endif
    return TP_INFO_RESULT;
}

#if TP_HAS_PLOT
QV_EXTERN_C QV_EXPORT int32_t QV_CALL qvplot(const Dot* chain, int32_t minx, int32_t miny,
                                             int32_t maxx, int32_t maxy, char* path) noexcept {
    unsigned dots = 0;
    for (const Dot* d = chain; d; d = d->link) ++dots;
    char line[1200];
    std::snprintf(line, sizeof line, "plot %d %d %d %d %u %s", QV_BOUND(minx), QV_BOUND(miny),
                  QV_BOUND(maxx), QV_BOUND(maxy), dots, path ? path : "(null)");
    record(line);
    if (!TP_PLOT_RESULT || !chain || !path) return 0;
    std::strcat(path, ".rec");
    return 1;
}
#endif
