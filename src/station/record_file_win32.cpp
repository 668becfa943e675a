// The record's files on Windows.
#include "record_file.hpp"
#include "system_text.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <windows.h>

namespace veld {

namespace {

bool system_fault(reason &why) {
    system_text(GetLastError(), why.text, sizeof why.text);
    return false;
}

}  // namespace

bool record_open(record_file &file, const char *path, reason &why) {
    file.handle = CreateFileA(path, FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE) return system_fault(why);
    LARGE_INTEGER size{};
    char last = '\n';
    DWORD n = 0;
    if (GetFileSizeEx(file.handle, &size) && size.QuadPart > 0) {
        LARGE_INTEGER at{};
        at.QuadPart = size.QuadPart - 1;
        if (!SetFilePointerEx(file.handle, at, nullptr, FILE_BEGIN) || !ReadFile(file.handle, &last, 1, &n, nullptr)) {
            return system_fault(why);
        }
    }
    return last == '\n' || record_append(file, "\n", 1, why);
}

bool record_append(record_file &file, const char *data, std::size_t len, reason &why) {
    DWORD n = 0;
    if (!WriteFile(file.handle, data, static_cast<DWORD>(len), &n, nullptr) || n != len) return system_fault(why);
    return true;
}

bool record_sync(record_file &file, reason &why) { return FlushFileBuffers(file.handle) || system_fault(why); }

bool record_close(record_file &file, reason &why) { return CloseHandle(file.handle) || system_fault(why); }


}  // namespace veld
