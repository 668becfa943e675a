// What the station asks of the system beside its files: this process's
// id, whether another process still runs, and the names in a folder.
#pragma once

#include <string>
#include <vector>

namespace veld {

// This process's id, which no other process running on this machine has.
unsigned long this_process_id();

// Whether the process with this id runs (on this machine).
bool process_runs(unsigned long id);

// The names of the entries in dir (without . and ..); none when it
// cannot be read.
std::vector<std::string> folder_names(const char *dir);

}  // namespace veld
