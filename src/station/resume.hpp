// What an earlier run's report says was done, for --resume: each module's
// (IMEI and IMSI) latest object, read from the report's JSON Lines. A line
// that is not a report object is refused, naming it; a line cut short by
// a crash (a fragment that ends before the object does) is passed over,
// with a warning naming it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "config.hpp"
#include "text.hpp"

namespace veld {

// What a module's latest object says.
struct done_before {
    std::string result;
    std::string command;  // empty when null
    std::string started;
    std::string device;
};

struct resume_state {
    std::map<std::string, done_before> latest;  // by "IMEI;IMSI"
    std::vector<long> cut_lines;                // passed over, to be warned of
};

// Reads the report at path (a missing file is an empty report); false
// with "line N: ..." when a line is not a report object.
bool read_resume(const char *path, resume_state &state, reason &why);

// What a run records of a module it has configured, so that in a watch
// under --resume a module plugged again counts as configured before.
void note_configured(resume_state &state, const std::string &module, const client_config &config,
                     const std::string &started, const std::string &device);

// Whether module was configured before with the configuration config
// makes (its port aside when port_fixed is false); reason then holds
// "configured at STARTED on DEVICE".
bool configured_before(const resume_state &state, const std::string &module, const client_config &config,
                       bool port_fixed, reason &why);

}  // namespace veld
