// The transcripts' files: a working name no other process takes, a final
// name taken without replacing a file another made meanwhile (also where
// the file system has no hard links), the folder tried as a run writes it,
// and the working files a killed run left.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "text.hpp"

namespace veld {

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
