// What the station writes of each port: the result line of six
// tab-separated fields on standard output, the JSON report object, and
// the tally behind the summary on standard error. Every text from a
// module or a file stays on its line, whatever bytes it holds.
#pragma once

#include <cstddef>
#include <cstdio>
#include <map>
#include <string>

#include "config.hpp"
#include "report.hpp"
#include "session.hpp"

namespace veld {

enum class result { configured, failed, skipped, interrupted, passed_over };

const char *result_name(result r);

// One port's provisioning, as it is written out.
struct port_record {
    std::string device;
    identity id;
    bool imei_known;
    bool imsi_known;
    const char *endpoint;  // null when none was made
    std::size_t endpoint_len;
    const client_config *config;  // null when none was built
    std::size_t lines;
    std::size_t acknowledged;
    result what;
    reason why;  // empty when configured
    long long started_ms;
    double seconds;
    bool transcript_lost;
    reason transcript_fault;  // why, when lost
    bool before;              // skipped: configured so by an earlier run
    bool in_use;              // passed over: another program holds the port
    std::string transcript;   // its file name in the log folder, or empty
    std::string slot;         // where the port is on the fixture, or empty
    bool claimed;             // in the plant's ledger, by this run
};

// What every object of a run says of the run: the station, the operator
// (or null), the run's own id, the program's version and the lot (or
// null, when the run names none).
struct run_facts {
    std::string station;
    const char *operator_name;
    std::string run;
    const char *version;
    const char *lot;
};

// An id no other run takes: the moment, the process and a random number.
std::string make_run_id();

// DEVICE, IMEI, RESULT, ACKNOWLEDGED/TOTAL, SECONDS, REASON, and a line end,
// appended to out.
void format_result_line(const port_record &r, std::string &out);

// The report object, one line of JSON Lines, appended to out; number is
// its number in the run, from 1.
void format_report_object(const port_record &r, const run_facts &run, std::size_t number, std::string &out);

// A module's latest result in the run, as the summary lists it.
struct counted_module {
    result what;
    bool before;        // skipped: configured so by an earlier run
    std::size_t order;  // of its result among the run's
    std::string device, slot, why;
};

// The counts and lists of the summary, the view and the exit status: each
// module (its IMEI and IMSI; a port that told no IMEI is a module of its
// own) by its latest result in the run, a skip aside where the module has
// another; every attempt stays in the report as it happened.
struct tally {
    std::map<std::string, counted_module> modules;
    std::size_t results;  // counted so far
    std::size_t failed, configured, interrupted, before;
};

void count_result(tally &t, const port_record &r);

// "configured N of M modules; K configured before; failed: ...;
// interrupted: ..." and a line end,
// M the modules configured, failed or interrupted, what the modules said
// escaped.
void format_summary(const tally &t, std::string &out);

}  // namespace veld
