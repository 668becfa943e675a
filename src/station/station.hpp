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

#include "live_view.hpp"
#include "manifest.hpp"
#include "names.hpp"
#include "port_settings.hpp"
#include "record_file.hpp"
#include "records.hpp"
#include "resume.hpp"
#include "scheduler.hpp"
#include "settings.hpp"
#include "slots.hpp"

namespace veld {

constexpr std::size_t max_jobs = 32;

struct station_options {
    const char *program;
    port_settings port;
    long probe_timeout_ms;  // for each try of the probe
    long boot_wait_ms;      // how long a port's module may take to answer
    const char *name;  // the --name format
    std::size_t jobs;  // 0: one a port, in a watch max_jobs
    const char *log_dir;  // or null
    bool watch;
    std::vector<const char *> patterns;  // the watch's, or none for the defaults
    bool quiet;
    bool verbose;
    char *const *devices;  // a batch's
    std::size_t device_count;
    tool_settings tool;  // veldconf's options, checked, without a name
    run_facts run;
    const char *slots_file;  // --slots, or null
    slot_map slots;          // its slots: only those are provisioned
    const char *manifest_file;  // --manifest, or null
    manifest rows;              // its rows: only the modules it lists are provisioned
    bool resume;                // --resume: what the report says was done is not done again
    resume_state done;
};

// One port's provisioning, from its opening to its record: it outlives a
// job while the port waits, parked, for its module to answer, and its
// working transcript is its own.
struct port_work {
    session conversation;
    std::FILE *log;       // the transcript, or null
    std::string partial;  // the transcript's working name
    port_record record;
    long long opened_ms;  // on the steady clock
};

struct station {
    station_options opts;
    record_file report;
    bool reporting;   // report is open
    std::mutex lock;  // everything below, and standard error
    std::condition_variable work;
    scheduler ports;
    names_given names;
    std::vector<bool> matched;  // the manifest's rows a module took
    std::size_t opened;         // ports opened, which number their working transcripts
    tally counts;
    std::size_t objects;  // report objects made by this run
    std::size_t lost;  // records that could not be written
    bool no_job;       // not one job could be started
    live_view view;
};

// Provisions the ports until they are done (a batch) or Ctrl-C (a watch),
// or until the record cannot be written; a batch's ports not started then
// get a record each. The summary goes to standard error.
void run_station(station &st);

// The program's exit status after run_station: 3 a record was lost, 1 a
// module failed or was interrupted (or no job could start), else 0.
int station_status(const station &st);

// Writes one port's record: its line, its report object, the counts, the
// live view; a part that cannot be written is said on standard error,
// and the station halts. Called with st.lock held.
void publish(station &st, const port_record &r);

// Shows text (whole lines) on standard error above the live view, which
// it clears first and draws again after. Called with st.lock held.
void say(station &st, const char *text, std::size_t len);

// The same, for the conversations: takes st.lock itself.
text_sink verbose_sink(station &st);

}  // namespace veld
