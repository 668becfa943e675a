// A transcript's final name on POSIX systems: a hard link where the file
// system has them, else a rename or a copy that never replaces.
#include "transcript_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace veld {

namespace {

// from's bytes into to, made anew (never replacing a file), on the disk;
// false with the system's reason (exists set when to is taken). A copy
// cut short is removed.
bool copy_anew(const char *from, const char *to, bool &exists, reason &why) {
    const int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return fail(why, "%s", std::strerror(errno));
    const int out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        exists = errno == EEXIST;
        const int error = errno;
        close(in);
        return fail(why, "%s", std::strerror(error));
    }
    char piece[65536];
    ssize_t n = 0;
    bool copied = true;
    while (copied && (n = read(in, piece, sizeof piece)) > 0) copied = write(out, piece, static_cast<std::size_t>(n)) == n;
    copied = copied && n == 0 && fsync(out) == 0;
    const int error = copied ? 0 : (errno != 0 ? errno : EIO);
    copied = close(out) == 0 && copied;
    close(in);
    if (copied) return true;
    unlink(to);
    return fail(why, "%s", std::strerror(error != 0 ? error : errno));
}

}  // namespace

bool take_name(const char *from, const char *to, bool &exists, reason &why) {
    exists = false;
    if (::link(from, to) == 0) return unlink(from) == 0 || fail(why, "%s", std::strerror(errno));
    exists = errno == EEXIST;
    if (exists || errno == ENOENT || errno == EACCES || errno == EROFS || errno == ENOSPC) {
        return fail(why, "%s", std::strerror(errno));
    }
    // A file system without hard links (exFAT, vfat, many SMB mounts):
    // a rename that never replaces, where it has one, else a copy.
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    exists = errno == EEXIST;
    if (exists) return fail(why, "%s", std::strerror(errno));
    return copy_anew(from, to, exists, why) && (unlink(from) == 0 || fail(why, "%s", std::strerror(errno)));
}


}  // namespace veld
