#!/usr/bin/python3
"""A folder seen through FUSE whose every sync is slow, as a slow disk's or
a network share's is: everything passes through to the folder beneath,
and fsync and fdatasync wait MS milliseconds first. For the station's
cases (Debian's fusepy; run with the system's Python, which has it).

usage: slow_disk.py FOLDER MOUNT MS   (in the foreground, until unmounted)
"""
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class SlowSync(Operations):
    def __init__(self, root, delay):
        self.root, self.delay = root, delay

    def _path(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def __call__(self, op, path, *args):
        try:
            return super().__call__(op, self._path(path), *args)
        except OSError as error:
            raise FuseOSError(error.errno or errno.EIO)

    def access(self, path, mode):
        if not os.access(path, mode):
            raise FuseOSError(errno.EACCES)

    def getattr(self, path, fh=None):
        st = os.lstat(path)
        return {key: getattr(st, key) for key in ("st_atime", "st_ctime", "st_gid", "st_mode", "st_mtime",
                                                  "st_nlink", "st_size", "st_uid")}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(path)

    def create(self, path, mode, fi=None):
        return os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)

    def open(self, path, flags):
        return os.open(path, flags)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(path, length)

    def unlink(self, path):
        os.unlink(path)

    def link(self, target, source):
        os.link(self._path(source), target)

    def rename(self, old, new):
        os.rename(old, self._path(new))

    def mkdir(self, path, mode):
        os.mkdir(path, mode)

    def chmod(self, path, mode):
        os.chmod(path, mode)

    def utimens(self, path, times=None):
        os.utime(path, times)

    def statfs(self, path):
        st = os.statvfs(path)
        return {key: getattr(st, key) for key in ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail",
                                                  "f_ffree", "f_files", "f_flag", "f_frsize", "f_namemax")}

    def flush(self, path, fh):
        return 0

    def release(self, path, fh):
        os.close(fh)

    def fsync(self, path, datasync, fh):
        time.sleep(self.delay)
        os.fsync(fh)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    folder, mount, ms = sys.argv[1:]
    FUSE(SlowSync(os.path.abspath(folder), int(ms) / 1000), mount, foreground=True, nothreads=False)


if __name__ == "__main__":
    main()
