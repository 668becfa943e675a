// A plant's ledger, as every program sees it: lots, their manifests, and
// the results every station recorded, each kept as its report line. The
// programs are given PostgreSQL (ledger_postgres.hpp); the tests a ledger
// held in memory with the same contract, so that the logic above it runs
// without a server.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "text.hpp"

namespace veld {

// A manifest row: the module's IMEI and its cells (column, value), the
// empty ones left out.
struct manifest_entry {
    long line;
    std::string imei;
    std::vector<std::pair<std::string, std::string>> cells;
};

// One report object, as the ledger keeps it: the columns it is found by
// (empty where the object holds null) and the line itself.
struct result_row {
    std::string object, lot, imei, imsi, station, run, endpoint, server_uri, command, result, started, line;
};

// A lot's counts for one station and result.
struct station_count {
    std::string station, result;
    long long results;
};

// A result named in a finding: a module configured twice, or one end of
// an endpoint name given to two modules on one server URI.
struct listed_result {
    std::string server_uri, endpoint, imei, imsi, lot, station, started, object;
};

// A claim made and never finished.
struct open_claim {
    std::string imei, imsi, station, run, claimed, lease_until;
};

// A station name under which more than one run is live: two PCs with
// one name.
struct twin_runs {
    std::string station, runs;  // the runs, ", " between them
};

struct lot_status {
    std::vector<station_count> counts;   // by station, then result
    std::vector<listed_result> twice;    // by module, then started
    std::vector<listed_result> clashes;  // by server URI and name, then started
    std::vector<open_claim> claims;      // by claimed
    std::vector<twin_runs> twins;        // by station
};

// A run's claim on a module in a lot, with the configuration it would
// send: its command (port_fixed: the port is the command's own, not one
// drawn for the module), server URI and endpoint name.
struct claim_request {
    std::string lot, imei, imsi, station, run, command, server_uri, endpoint;
    bool port_fixed;
};

enum class claim_outcome {
    claimed,        // the run holds it: configure the module
    configured,     // by station at since, with the same command
    other_command,  // configured at since by station, with other (its command)
    busy,           // being configured by station since then
    unfinished,     // claimed by station at since, whose lease ran out
    name_taken,     // the endpoint name is other's: "IMEI (lot L, STATION)"
};

struct claim_answer {
    claim_outcome outcome;
    std::string station, since, other;
};

// Hands over the next batch of rows, empty at the end; false, with why,
// to refuse them all.
using row_source = bool (*)(void *source, std::vector<result_row> &batch, reason &why);

// Each operation is one transaction: done whole, or not at all (false,
// with why).
struct ledger {
    void *context;
    bool (*lot_exists)(void *context, const std::string &lot, bool &exists, reason &why);
    // Makes the lot (created: false when it was there) and adds the
    // manifest rows to it; a row for a module the lot holds with the same
    // cells is passed over, one with other cells refused, naming it.
    bool (*add_lot)(void *context, const std::string &lot, const std::vector<manifest_entry> &rows, bool &created,
                    std::size_t &added, reason &why);
    // The lot's manifest rows, in the order of their lines.
    bool (*read_manifest)(void *context, const std::string &lot, std::vector<manifest_entry> &rows, reason &why);
    // Adds each row next hands over (a batch a call, until an empty one)
    // whose object the ledger does not hold; a row whose object it holds
    // with another line, or whose lot is not there, refuses them all.
    bool (*add_results)(void *context, row_source next, void *source, std::size_t &added, reason &why);
    bool (*read_status)(void *context, const std::string &lot, lot_status &status, reason &why);
    // Hands each result line of the lot to each, in the order they came.
    bool (*read_lines)(void *context, const std::string &lot, void (*each)(void *to, const std::string &line),
                       void *to, reason &why);
    // The lease of a claim, in seconds.
    bool (*read_lease)(void *context, long &seconds, reason &why);
    // Claims the module, decided by the claims' one key, and reserves its
    // endpoint name on its server URI with it; the answer says how it went.
    bool (*claim)(void *context, const claim_request &request, claim_answer &answer, reason &why);
    // The run's heartbeat: every claim of the run renewed, on the ledger's
    // clock.
    bool (*renew)(void *context, const std::string &run, const std::string &station, const std::string &lot,
                  reason &why);
    // One result, in one statement, ending its run's claim; a replay
    // changes nothing.
    bool (*add_result)(void *context, const result_row &row, reason &why);
    // Gives back the module's claim, never finished, its lease run out;
    // released: whose it was.
    bool (*release)(void *context, const std::string &lot, const std::string &imei, const std::string &imsi,
                    open_claim &released, reason &why);
};

}  // namespace veld
