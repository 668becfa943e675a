#include "transcript_file.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "process.hpp"

namespace veld {

namespace {

const char working_prefix[] = ".veldconf-provision.";
const char working_suffix[] = ".partial";

// The process id in a working file's name, or 0 when it is none.
unsigned long working_process(const std::string &name) {
    const std::size_t prefix = sizeof working_prefix - 1;
    const std::size_t suffix = sizeof working_suffix - 1;
    if (name.size() <= prefix + suffix || name.compare(0, prefix, working_prefix) != 0 ||
        name.compare(name.size() - suffix, suffix, working_suffix) != 0) {
        return 0;
    }
    // PID.NUMBER between the two.
    const std::size_t dot = name.find('.', prefix);
    const std::size_t end = name.size() - suffix;
    if (dot == std::string::npos || dot >= end || !all_digits(name.data() + prefix, dot - prefix) ||
        dot - prefix > 9 || !all_digits(name.data() + dot + 1, end - dot - 1)) {
        return 0;
    }
    return std::stoul(name.substr(prefix, dot - prefix));
}

}  // namespace

std::string working_name(const char *dir, std::size_t number) {
    return std::string(dir) + "/" + working_prefix + std::to_string(this_process_id()) + "." +
           std::to_string(number) + working_suffix;
}

std::vector<std::string> unfinished_transcripts(const char *dir) {
    std::vector<std::string> left;
    for (const std::string &name : folder_names(dir)) {
        const unsigned long process = working_process(name);
        if (process != 0 && process != this_process_id() && !process_runs(process)) left.push_back(name);
    }
    std::sort(left.begin(), left.end());
    return left;
}

bool check_transcript_folder(const char *dir, reason &why) {
    const std::string working = working_name(dir, 0);
    const std::string final_name = working + ".check";
    std::FILE *file = std::fopen(working.c_str(), "wb");
    if (file == nullptr) return fail(why, "%s", std::strerror(errno));
    const bool written = std::fputs("a transcript\n", file) >= 0;
    const bool closed = std::fclose(file) == 0;
    bool exists = false;
    const bool taken = written && closed && take_name(working.c_str(), final_name.c_str(), exists, why);
    if (!written || !closed) fail(why, "%s", std::strerror(errno));
    std::remove(working.c_str());
    std::remove(final_name.c_str());
    return taken;
}

}  // namespace veld
