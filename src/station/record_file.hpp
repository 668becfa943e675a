// A file the station's record goes to, written so that what is written
// stays: opened for appending (two stations appending to one file never
// interleave), each piece in one write, made to reach the disk (fsync;
// FlushFileBuffers on Windows) before anything says it was written, every
// failure said.
#pragma once

#include <cstddef>

#include "text.hpp"

namespace veld {

struct record_file {
    void *handle;  // the system's handle (Windows)
    int fd;        // the file descriptor (elsewhere)
};

// Opens path for appending (making it); a file that does not end in a line
// end (a crash mid-line) gets one first, so that what follows starts a line.
bool record_open(record_file &file, const char *path, reason &why);

// data in one write at the end, under an exclusive lock of the file (two
// stations may append to one); a write cut short is taken back, so that
// the file holds whole objects only. false with the system's reason.
bool record_append(record_file &file, const char *data, std::size_t len, reason &why);

// What was appended, on the disk when it returns; false with the system's
// reason.
bool record_sync(record_file &file, reason &why);

// Closes the file; false with the system's reason when what was written
// may not have reached it (some network file systems say so only now).
bool record_close(record_file &file, reason &why);

// Whether path can be opened as record_open opens it, changing nothing
// and leaving no file behind; false with the system's reason.
bool record_check(const char *path, reason &why);

}  // namespace veld
