#include "process.hpp"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

namespace veld {

unsigned long this_process_id() { return static_cast<unsigned long>(getpid()); }

bool process_runs(unsigned long id) {
    // A process of another user runs too, though no signal may reach it.
    return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

std::vector<std::string> folder_names(const char *dir) {
    std::vector<std::string> names;
    DIR *folder = opendir(dir);
    if (folder == nullptr) return names;
    while (const dirent *entry = readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    }
    closedir(folder);
    return names;
}

}  // namespace veld
