// Output plug-in host: finds "*.qvp" beside the program, lists them and has one render a chain.
// Nothing is cached: each listing and each rendering searches and loads the libraries anew.
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "quorvel.h"
#include "search_internal.h"

namespace {
struct OutputPlugin {
    QvInfoFn info;
    QvPlotFn plot;
};

// Loads every "*.qvp" beside the program in search order and hands the ones exporting both
// functions to use, with the 1024-byte name buffer, until use answers true. Each library is
// unloaded right after use. Returns false when the search found nothing to try.
template <class Use>
bool for_each_plugin(Use use) {
    std::string folder;
    std::vector<std::string> files;
    if (!search_beside_program("*.qvp", folder, files)) return false;
    char name[QV_PATH_MAX];
    for (const std::string& file : files) {
        void* library = platform_load((folder + file).c_str());
        if (!library) continue;
        OutputPlugin plugin{reinterpret_cast<QvInfoFn>(platform_symbol(library, "qvinfo")),
                            reinterpret_cast<QvPlotFn>(platform_symbol(library, "qvplot"))};
        bool done = false;
        if (plugin.info && plugin.plot) done = use(plugin, name);
        platform_unload(library);
        if (done) break;
    }
    return true;
}

// The description a plug-in writes, read as at most 1023 characters: the last byte of the
// buffer stays 0 whatever the plug-in does with the 1023 it is offered.
bool describe(const OutputPlugin& plugin, char* name) {
    name[QV_PATH_MAX - 1] = '\0';
    bool usable = plugin.info(name, QV_PATH_MAX - 1) != 0;
    name[QV_PATH_MAX - 1] = '\0';
    return usable;
}
}  // namespace

bool search_beside_program(const char* pattern, std::string& folder,
                           std::vector<std::string>& files) {
    char name[QV_PATH_MAX];
    if (!platform_module_path(name, QV_PATH_MAX - 1)) return false;
    char* slash = std::strrchr(name, PLATFORM_SEP);
    char* tail = slash ? slash + 1 : name;
    const size_t length = std::strlen(pattern) + 1;
    if (size_t(tail - name) + length > sizeof name) return false;
    std::memcpy(tail, pattern, length);
    if (!platform_find_files(name, files)) return false;
    folder.assign(name, tail);
    return true;
}

int32_t plugin_list(PluginListFn add, void* context) noexcept {
    if (!add) return 0;
    int32_t listed = 0;
    try {
        for_each_plugin([&](const OutputPlugin& plugin, char* name) {
            if (describe(plugin, name)) {
                add(context, name);
                listed = 1;
            }
            return false;
        });
    } catch (...) {
    }
    return listed;
}

int32_t plugin_plot(const Dot* chain, int16_t minx, int16_t miny, int16_t maxx, int16_t maxy,
                    char* path, const char* choice) noexcept {
    const size_t length = choice ? std::strlen(choice) : 0;
    int32_t result = 0;
    try {
        for_each_plugin([&](const OutputPlugin& plugin, char* name) {
            // strncmp stops at the description's end, so a shorter description never matches.
            if (length && (!describe(plugin, name) || std::strncmp(name, choice, length) != 0))
                return false;
            result = plugin.plot(chain, minx, miny, maxx, maxy, path);
            return result != 0;
        });
    } catch (...) {
    }
    return result;
}
