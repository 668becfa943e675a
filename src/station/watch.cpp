#include "watch.hpp"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <glob.h>
#endif

namespace veld {

#ifdef _WIN32
std::vector<std::string> list_ports(const std::vector<const char *> &) {
    std::vector<std::string> found;
    std::vector<char> room(65536);
    char *const names = room.data();
    const DWORD n = QueryDosDeviceA(nullptr, names, static_cast<DWORD>(room.size()));
    for (DWORD at = 0; at < n && names[at] != '\0'; at += static_cast<DWORD>(std::strlen(names + at)) + 1) {
        if (std::strncmp(names + at, "COM", 3) == 0) found.emplace_back(names + at);
    }
    return found;
}
#else
std::vector<std::string> list_ports(const std::vector<const char *> &patterns) {
    static const std::vector<const char *> defaults = {"/dev/ttyUSB*", "/dev/ttyACM*"};
    std::vector<std::string> found;
    for (const char *pattern : patterns.empty() ? defaults : patterns) {
        glob_t matches{};
        if (glob(pattern, 0, nullptr, &matches) == 0) {
            for (std::size_t i = 0; i < matches.gl_pathc; ++i) found.emplace_back(matches.gl_pathv[i]);
        }
        globfree(&matches);
    }
    return found;
}
#endif

}  // namespace veld
