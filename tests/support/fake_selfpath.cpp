// The tests decide where the running "program" lies, and so where plug-ins are searched.
#include <cstring>
#include <string>

#include "platform.h"
#include "test_support.h"

namespace {
std::string g_program_path;
}

void qvtest::set_program_path(const std::string& path) { g_program_path = path; }

uint32_t platform_module_path(char* buf, uint32_t size) {
    if (!buf || g_program_path.empty() || g_program_path.size() >= size) return 0;
    std::memcpy(buf, g_program_path.c_str(), g_program_path.size() + 1);
    return uint32_t(g_program_path.size());
}
