// A file the station's record goes to, written so that what is written
// stays: opened for appending (two stations appending to one file never
// interleave), each piece in one write that reaches the disk before the
// call returns (fsync; FlushFileBuffers on Windows), every failure said.
// Also the transcripts' files: a working name no other process takes, and
// a final name taken without replacing a file another made meanwhile.
#pragma once

#include <cstddef>
#include <string>

#include "text.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace veld {

struct record_file {
#ifdef _WIN32
    HANDLE handle;
#else
    int fd;
#endif
};

// Opens path for appending (making it); a file that does not end in a line
// end (a crash mid-line) gets one first, so that what follows starts a line.
bool record_open(record_file &file, const char *path, reason &why);

// data in one write, on the disk when it returns; false with the system's
// reason.
bool record_append(record_file &file, const char *data, std::size_t len, reason &why);

void record_close(record_file &file);

// The whole of the file at path (a manifest, a report read back); false
// with the system's reason, and missing set when there is no such file.
bool read_file(const char *path, std::string &text, bool &missing, reason &why);

// This process's id, which no other process running on this machine has.
unsigned long this_process_id();

// A name for a working file in dir no other process of this machine takes:
// DIR/.veldconf-provision.PID.NUMBER.partial, number one of this process's
// own.
std::string working_name(const char *dir, std::size_t number);

// Gives from the name to (without replacing a file of that name); false,
// with exists set when to is taken, else with the system's reason.
bool take_name(const char *from, const char *to, bool &exists, reason &why);

}  // namespace veld
