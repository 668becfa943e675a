// The ports present on Windows: the COM ports the system lists.
#include "watch.hpp"

#include <cctype>
#include <cstring>

#include <windows.h>

#include "system_text.hpp"

namespace veld {

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

bool list_ports(const std::vector<const char *> &patterns, const std::vector<std::string> &held,
                std::vector<listed_port> &found, reason &why) {
    found.clear();
    std::vector<char> room(65536);
    char *const names = room.data();
    const DWORD n = QueryDosDeviceA(nullptr, names, static_cast<DWORD>(room.size()));
    if (n == 0) {
        system_text(GetLastError(), why.text, sizeof why.text);
        return false;
    }
    for (DWORD at = 0; at < n && names[at] != '\0'; at += static_cast<DWORD>(std::strlen(names + at)) + 1) {
        const char *name = names + at;
        if (std::strncmp(name, "COM", 3) == 0 && matches_any(patterns, name)) {
            found.push_back({name, device_identity(name), device_identity(name)});
        }
    }
    // A port held is there as far as the station knows: opening it now
    // would collide with the job's own open.
    for (const char *pattern : patterns) {
        const std::string identity = device_identity(pattern);
        if (std::strpbrk(pattern, "*?") != nullptr || listed(found, identity)) continue;
        bool taken = false;
        for (const std::string &port : held) taken = taken || device_identity(port.c_str()) == identity;
        if (taken || opens(identity.c_str())) found.push_back({pattern, identity, identity});
    }
    return true;
}

}  // namespace veld
