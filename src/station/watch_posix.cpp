// The ports present on POSIX systems: the device nodes the patterns match.
#include "watch.hpp"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <glob.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace veld {

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

bool list_ports(const std::vector<const char *> &patterns, const std::vector<std::string> &,
                std::vector<listed_port> &found, reason &why) {
    static const std::vector<const char *> defaults = {"/dev/ttyUSB*", "/dev/ttyACM*"};
    found.clear();
    bool listed = true;
    for (const char *pattern : patterns.empty() ? defaults : patterns) {
        glob_t matches{};
        const int result = glob(pattern, 0, nullptr, &matches);
        if (result == 0) {
            for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
                const char *path = matches.gl_pathv[i];
                found.push_back({path, device_identity(path), node_of(path)});
            }
        } else if (result != GLOB_NOMATCH) {
            listed = fail(why, "%s cannot be looked through", pattern);
        }
        globfree(&matches);
    }
    return listed;
}

}  // namespace veld
