#include "watch.hpp"

#include <cctype>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <glob.h>
#include <sys/stat.h>
#endif

namespace veld {

#ifdef _WIN32
std::string device_identity(const char *path) {
    std::string name = std::strncmp(path, "\\\\.\\", 4) == 0 ? path + 4 : path;
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::vector<listed_port> list_ports(const std::vector<const char *> &) {
    std::vector<listed_port> found;
    std::vector<char> room(65536);
    char *const names = room.data();
    const DWORD n = QueryDosDeviceA(nullptr, names, static_cast<DWORD>(room.size()));
    for (DWORD at = 0; at < n && names[at] != '\0'; at += static_cast<DWORD>(std::strlen(names + at)) + 1) {
        if (std::strncmp(names + at, "COM", 3) == 0) found.push_back({names + at, device_identity(names + at)});
    }
    return found;
}
#else
std::string device_identity(const char *path) {
    struct stat about {};
    if (stat(path, &about) != 0 || !S_ISCHR(about.st_mode)) return {};
    return "rdev:" + std::to_string(static_cast<unsigned long long>(about.st_rdev));
}

std::vector<listed_port> list_ports(const std::vector<const char *> &patterns) {
    static const std::vector<const char *> defaults = {"/dev/ttyUSB*", "/dev/ttyACM*"};
    std::vector<listed_port> found;
    for (const char *pattern : patterns.empty() ? defaults : patterns) {
        glob_t matches{};
        if (glob(pattern, 0, nullptr, &matches) == 0) {
            for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
                found.push_back({matches.gl_pathv[i], device_identity(matches.gl_pathv[i])});
            }
        }
        globfree(&matches);
    }
    return found;
}
#endif

}  // namespace veld
