// The station: one value that its parts are handed (what the command line
// asked for, the ports known to the run, the record written so far), and
// the job pool that provisions its ports, several at once, a batch's or
// those a watch finds, until they are done or Ctrl-C.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <cstdio>
#include <mutex>
#include <vector>

#include "live_view.hpp"
#include "manifest.hpp"
#include "names.hpp"
#include "plant_ledger.hpp"
#include "port_settings.hpp"
#include "record_file.hpp"
#include "records.hpp"
#include "resume.hpp"
#include "scheduler.hpp"
#include "settings.hpp"
#include "slots.hpp"
#include "writer.hpp"

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
    const char *report_file;    // --report, or null
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

// A result line waiting for the lines of the objects before its own.
struct held_line {
    std::string text;
    std::string owner;
    bool kept;
};

struct station {
    station_options opts;
    writer out;  // standard output and standard error, and no one else
    record_file report;
    bool reporting;         // report is open
    std::mutex report_lock;  // the report's appends and objects, nothing else
    std::size_t objects;     // report objects made by this run
    std::atomic<std::size_t> writers_waiting;  // ports about to write their object
    std::condition_variable written;  // an object was written
    std::mutex sync_lock;    // the report's syncs, and synced
    std::size_t synced;      // the objects on the disk, from the first
    std::mutex lock;  // everything below
    std::condition_variable work;
    scheduler ports;
    names_given names;
    std::vector<bool> matched;  // the manifest's rows a module took
    std::size_t opened;         // ports opened, which number their working transcripts
    tally counts;
    std::map<std::size_t, held_line> held;  // by their objects' numbers, until those before are handed over
    std::size_t lines_written;  // handed to the writer, of the lines of objects
    std::size_t lost;  // report objects and transcripts not written (the writer counts lines)
    bool no_job;       // not one job could be started
    bool listing_failed;  // the watch's last look could not list the ports
    live_view view;
    plant_ledger plant;  // --ledger's, or none
};

// Provisions the ports until they are done (a batch) or Ctrl-C (a watch),
// or until the record cannot be written; a batch's ports not started then
// get a record each. The summary goes to standard error. false when the
// terminal still holds what was to be written (after a signal, the run
// ends all the same): the process must then end without flushing its
// streams.
bool run_station(station &st);

// The program's exit status after run_station: 3 a record was lost, 4 a
// claimed module's result is in the report and not yet in the ledger, 1
// a module failed or was interrupted (or no job could start), else 0.
int station_status(station &st);

// Writes one port's record: its report object (on the disk first), its
// line, the counts, the live view; a part that cannot be written is said
// on standard error, and the station halts. Takes st.lock itself.
void publish(station &st, const port_record &r);

// Where the conversations' --verbose text goes.
text_sink verbose_sink(station &st);

}  // namespace veld
