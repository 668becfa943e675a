// The record's files on POSIX systems.
#include "record_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace veld {

bool record_open(record_file &file, const char *path, reason &why) {
    file.fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file.fd < 0) file.fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);  // /dev/full
    if (file.fd < 0) return fail(why, "%s", std::strerror(errno));
    char last = '\n';
    const off_t size = lseek(file.fd, 0, SEEK_END);
    if (size > 0 && pread(file.fd, &last, 1, size - 1) != 1) last = '\n';
    return last == '\n' || record_append(file, "\n", 1, why);
}

namespace {

// What a failed or short write left of an object is taken back, so that
// the file holds whole objects only; where the file cannot be cut (a
// device), a line end keeps what was written a line of its own.
void take_back(int fd, off_t end, ssize_t written) {
    if (written <= 0) return;
    if (end < 0 || ftruncate(fd, end) != 0) {
        const ssize_t ended = write(fd, "\n", 1);
        (void)ended;  // nothing more can be done
    }
}

// data at the end of the file, on the disk; the caller holds the lock.
bool append_locked(int fd, const char *data, std::size_t len, reason &why) {
    // Room first, so that a full disk cuts no object short; a file that
    // cannot be given room ahead (a pipe, a device, a file system without
    // the call) is written as it is.
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end >= 0 && fallocate(fd, FALLOC_FL_KEEP_SIZE, end, static_cast<off_t>(len)) != 0 &&
        (errno == ENOSPC || errno == EFBIG)) {
        return fail(why, "%s", std::strerror(errno));
    }
    const ssize_t n = write(fd, data, len);
    if (n < 0 || static_cast<std::size_t>(n) != len) {
        const int error = n < 0 ? errno : ENOSPC;
        take_back(fd, end, n);
        return fail(why, "%s", std::strerror(error));
    }
    return true;
}

}  // namespace

bool record_append(record_file &file, const char *data, std::size_t len, reason &why) {
    // Another station appending to the same file waits for this object,
    // and never sees one cut back.
    const bool locked = flock(file.fd, LOCK_EX) == 0;
    const bool appended = append_locked(file.fd, data, len, why);
    if (locked) flock(file.fd, LOCK_UN);
    return appended;
}

bool record_sync(record_file &file, reason &why) {
    // A pipe or a device has nothing to sync.
    if (fsync(file.fd) != 0 && errno != EINVAL && errno != EROFS) return fail(why, "%s", std::strerror(errno));
    return true;
}

bool record_close(record_file &file, reason &why) {
    return close(file.fd) == 0 || fail(why, "%s", std::strerror(errno));
}


}  // namespace veld
