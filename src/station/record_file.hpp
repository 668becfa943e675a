// A file the station's record goes to, written so that what is written
// stays: opened for appending (two stations appending to one file never
// interleave), each piece in one write, made to reach the disk (fsync;
// FlushFileBuffers on Windows) before anything says it was written, every
// failure said.
// Also the transcripts' files: a working name no other process takes, and
// a final name taken without replacing a file another made meanwhile.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

// A name for a working file in dir no other process of this machine takes:
// DIR/.veldconf-provision.PID.NUMBER.partial, number one of this process's
// own.
std::string working_name(const char *dir, std::size_t number);

// The working files in dir of processes that no longer run: transcripts
// of runs that did not finish (killed), each the only trace of what that
// run sent. Their names, in order.
std::vector<std::string> unfinished_transcripts(const char *dir);

// Gives from the name to (without replacing a file of that name, also
// where the file system has no hard links); false, with exists set when
// to is taken, else with the system's reason.
bool take_name(const char *from, const char *to, bool &exists, reason &why);

// Whether dir takes a transcript as a run makes one (a working file
// written, then given a final name by take_name), leaving neither behind;
// false with the system's reason.
bool check_transcript_folder(const char *dir, reason &why);

}  // namespace veld
