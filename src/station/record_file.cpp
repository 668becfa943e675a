#include "record_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace veld {

#ifdef _WIN32

namespace {

bool system_fault(reason &why) {
    char text[256];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   GetLastError(), 0, text, sizeof text, nullptr);
    DWORD end = n;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == '.')) --end;
    text[end] = '\0';
    return fail(why, "%s", text);
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
    if (!WriteFile(file.handle, data, static_cast<DWORD>(len), &n, nullptr) || n != len ||
        !FlushFileBuffers(file.handle)) {
        return system_fault(why);
    }
    return true;
}

void record_close(record_file &file) { CloseHandle(file.handle); }

unsigned long this_process_id() { return GetCurrentProcessId(); }

bool take_name(const char *from, const char *to, bool &exists, reason &why) {
    exists = false;
    if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) return true;  // never replaces
    exists = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS;
    return system_fault(why);
}

#else

bool record_open(record_file &file, const char *path, reason &why) {
    file.fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file.fd < 0) file.fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);  // /dev/full
    if (file.fd < 0) return fail(why, "%s", std::strerror(errno));
    char last = '\n';
    const off_t size = lseek(file.fd, 0, SEEK_END);
    if (size > 0 && pread(file.fd, &last, 1, size - 1) != 1) last = '\n';
    return last == '\n' || record_append(file, "\n", 1, why);
}

bool record_append(record_file &file, const char *data, std::size_t len, reason &why) {
    // Room first, so that a full disk cuts no object short; a file that
    // cannot be given room ahead (a pipe, a device) is written as it is.
    const off_t end = lseek(file.fd, 0, SEEK_END);
    if (end >= 0 && fallocate(file.fd, FALLOC_FL_KEEP_SIZE, end, static_cast<off_t>(len)) != 0 &&
        (errno == ENOSPC || errno == EFBIG)) {
        return fail(why, "%s", std::strerror(errno));
    }
    const ssize_t n = write(file.fd, data, len);
    if (n < 0) return fail(why, "%s", std::strerror(errno));
    if (static_cast<std::size_t>(n) != len) return fail(why, "%s", std::strerror(ENOSPC));
    // A pipe or a device has nothing to sync.
    if (fsync(file.fd) != 0 && errno != EINVAL && errno != EROFS) return fail(why, "%s", std::strerror(errno));
    return true;
}

void record_close(record_file &file) { close(file.fd); }

unsigned long this_process_id() { return static_cast<unsigned long>(getpid()); }

bool take_name(const char *from, const char *to, bool &exists, reason &why) {
    exists = false;
    if (link(from, to) == 0) return unlink(from) == 0 || fail(why, "%s", std::strerror(errno));
    exists = errno == EEXIST;
    return fail(why, "%s", std::strerror(errno));
}

#endif

std::string working_name(const char *dir, std::size_t number) {
    return std::string(dir) + "/.veldconf-provision." + std::to_string(this_process_id()) + "." +
           std::to_string(number) + ".partial";
}

bool read_file(const char *path, std::string &text, bool &missing, reason &why) {
    std::FILE *in = std::fopen(path, "rb");
    missing = in == nullptr && errno == ENOENT;
    if (in == nullptr) return fail(why, "%s", std::strerror(errno));
    char piece[4096];
    for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, in)) > 0;) text.append(piece, n);
    const bool read = !std::ferror(in);
    std::fclose(in);
    return read || fail(why, "cannot be read");
}

}  // namespace veld
