#include "watch.hpp"

#include <cctype>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <glob.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#endif

namespace veld {

#ifdef _WIN32
std::string device_identity(const char *path) {
    std::string name = std::strncmp(path, "\\\\.\\", 4) == 0 ? path + 4 : path;
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::string usb_path(const char *) { return {}; }

bool modem_manager_runs() { return false; }

namespace {

bool name_matches(const char *pattern, const char *name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') return name_matches(pattern + 1, name) || (*name != '\0' && name_matches(pattern, name + 1));
    if (*name == '\0') return false;
    const bool same = *pattern == '?' || std::toupper(static_cast<unsigned char>(*pattern)) ==
                                             std::toupper(static_cast<unsigned char>(*name));
    return same && name_matches(pattern + 1, name + 1);
}

bool matches_any(const std::vector<const char *> &patterns, const char *name) {
    for (const char *pattern : patterns) {
        if (name_matches(pattern, name)) return true;
    }
    return patterns.empty();
}

// A port taken by another program is there all the same.
bool opens(const char *name) {
    const std::string path = std::string("\\\\.\\") + name;
    const HANDLE port = CreateFileA(path.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(port);
    return true;
}

bool listed(const std::vector<listed_port> &found, const std::string &identity) {
    for (const listed_port &port : found) {
        if (port.device == identity) return true;
    }
    return false;
}

}  // namespace

std::vector<listed_port> list_ports(const std::vector<const char *> &patterns) {
    std::vector<listed_port> found;
    std::vector<char> room(65536);
    char *const names = room.data();
    const DWORD n = QueryDosDeviceA(nullptr, names, static_cast<DWORD>(room.size()));
    for (DWORD at = 0; at < n && names[at] != '\0'; at += static_cast<DWORD>(std::strlen(names + at)) + 1) {
        const char *name = names + at;
        if (std::strncmp(name, "COM", 3) == 0 && matches_any(patterns, name)) {
            found.push_back({name, device_identity(name), device_identity(name)});
        }
    }
    for (const char *pattern : patterns) {
        const std::string identity = device_identity(pattern);
        if (std::strpbrk(pattern, "*?") == nullptr && !listed(found, identity) && opens(identity.c_str())) {
            found.push_back({pattern, identity, identity});
        }
    }
    return found;
}
#else
std::string device_identity(const char *path) {
    struct stat about {};
    if (stat(path, &about) != 0 || !S_ISCHR(about.st_mode)) return {};
    return "rdev:" + std::to_string(static_cast<unsigned long long>(about.st_rdev));
}

namespace {

// The node path names now: its file system's device and its inode.
std::string node_of(const char *path) {
    struct stat about {};
    if (stat(path, &about) != 0) return {};
    return "node:" + std::to_string(static_cast<unsigned long long>(about.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(about.st_ino));
}

// A USB interface's name: BUS-PORT[.PORT...]:CONFIG.INTERFACE.
bool usb_interface(const std::string &name) {
    const std::size_t colon = name.find(':');
    const std::size_t dash = name.find('-');
    if (colon == std::string::npos || dash == std::string::npos || dash == 0 || dash > colon) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.' && !(c == '-' && i == dash) &&
            !(c == ':' && i == colon)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string usb_path(const char *path) {
    struct stat about {};
    if (stat(path, &about) != 0 || !S_ISCHR(about.st_mode)) return {};
    const char *root = std::getenv("VELDCONF_SYSFS");
    const std::string link = std::string(root != nullptr ? root : "/sys") + "/dev/char/" +
                             std::to_string(major(about.st_rdev)) + ":" + std::to_string(minor(about.st_rdev));
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    // The interface nearest the device: the last one on the link's path.
    std::string found;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= static_cast<std::size_t>(n); ++at) {
        if (at < static_cast<std::size_t>(n) && target[at] != '/') continue;
        const std::string piece(target + start, at - start);
        if (usb_interface(piece)) found = piece;
        start = at + 1;
    }
    return found;
}

bool modem_manager_runs() {
    const char *root = std::getenv("VELDCONF_PROC");
    glob_t names{};
    bool runs = false;
    const std::string pattern = std::string(root != nullptr ? root : "/proc") + "/[0-9]*/comm";
    if (glob(pattern.c_str(), 0, nullptr, &names) == 0) {
        for (std::size_t i = 0; i < names.gl_pathc && !runs; ++i) {
            char comm[64] = "";
            std::FILE *in = std::fopen(names.gl_pathv[i], "r");
            if (in == nullptr) continue;
            runs = std::fgets(comm, sizeof comm, in) != nullptr && std::strcmp(comm, "ModemManager\n") == 0;
            std::fclose(in);
        }
    }
    globfree(&names);
    return runs;
}

std::vector<listed_port> list_ports(const std::vector<const char *> &patterns) {
    static const std::vector<const char *> defaults = {"/dev/ttyUSB*", "/dev/ttyACM*"};
    std::vector<listed_port> found;
    for (const char *pattern : patterns.empty() ? defaults : patterns) {
        glob_t matches{};
        if (glob(pattern, 0, nullptr, &matches) == 0) {
            for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
                const char *path = matches.gl_pathv[i];
                found.push_back({path, device_identity(path), node_of(path)});
            }
        }
        globfree(&matches);
    }
    return found;
}
#endif

}  // namespace veld
