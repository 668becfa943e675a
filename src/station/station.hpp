// The station: one value that its parts are handed (what the command line
// asked for, the ports known to the run, the record written so far), and
// the job pool that provisions its ports, several at once, a batch's or
// those a watch finds, until they are done or Ctrl-C.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <vector>

#include "port_settings.hpp"
#include "records.hpp"
#include "scheduler.hpp"
#include "settings.hpp"

namespace veld {

constexpr std::size_t max_jobs = 32;

struct station_options {
    const char *program;
    port_settings port;
    const char *name;  // the --name format
    std::size_t jobs;  // 0: one a port, in a watch max_jobs
    const char *log_dir;  // or null
    bool watch;
    std::vector<const char *> patterns;  // the watch's, or none for the defaults
    bool quiet;
    bool verbose;
    bool status_line;  // standard error is a terminal
    char *const *devices;  // a batch's
    std::size_t device_count;
    tool_settings tool;  // veldconf's options, checked, without a name
};

struct station {
    station_options opts;
    std::FILE *report;  // or null
    std::mutex lock;    // everything below, and the output
    std::condition_variable work;
    scheduler ports;
    tally counts;
    bool status_shown;
};

// Provisions the ports until they are done (a batch) or Ctrl-C (a watch);
// the summary goes to standard error.
void run_station(station &st);

// Writes one port's record: its line, its report object, the counts, the
// status line. Called with st.lock held.
void publish(station &st, const port_record &r);

}  // namespace veld
