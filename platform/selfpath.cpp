// The running program's own path, kept apart so that tests can place the "program" in a
// folder of their choosing by linking another definition.
#include "platform.h"

#include <unistd.h>

uint32_t platform_module_path(char* buf, uint32_t size) {
    if (!buf || size < 2) return 0;
    ssize_t n = readlink("/proc/self/exe", buf, size);
    if (n <= 0 || static_cast<uint32_t>(n) >= size) {  // n == size: cut short
        buf[0] = '\0';
        return 0;
    }
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
}
