// The station's side of a plant's ledger (--ledger, --lot): each module
// claimed in the lot before the first line of its configuration, each
// result committed once its object is on the disk, one heartbeat for all
// of the run's claims. What cannot reach the ledger stays in the report,
// in order, and goes first the next time the ledger answers; what is
// still behind at the end is said, for veldconf-ledger sync to catch up.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config.hpp"
#include "ledger.hpp"
#include "records.hpp"

namespace veld {

struct plant_ledger {
    ledger ops;  // context null: the run has no ledger
    std::string lot;
    long lease_seconds;
    bool manifest_in_ledger;  // the lot has a manifest: the run's, looked up again for a module it lacks
    std::mutex lock;  // one call at a time on the one connection, and all below
    struct behind_result {
        result_row row;
        bool claimed;  // of a module this run claimed
    };
    std::vector<behind_result> behind;  // in the report, not yet in the ledger, oldest first
    bool stopping;
    std::condition_variable wake;
    std::thread heartbeat;
};

inline bool ledger_on(const plant_ledger &p) { return p.ops.context != nullptr; }

// Claims r's module for the run before a byte of config is sent (the
// results held back go first); false when it is not this run's to
// configure: r's result and reason then say why, and nothing is sent.
bool claim_in_ledger(plant_ledger &p, const run_facts &run, const client_config &config, bool port_fixed,
                     port_record &r);

// Commits the result whose object (a line of the report, on the disk) is
// object; false, with why, when it stays behind.
bool commit_result(plant_ledger &p, const std::string &object, bool claimed, reason &why);

// The results behind: all of them, and those of claimed modules.
void count_behind(plant_ledger &p, std::size_t &all, std::size_t &claimed);

// The heartbeat, every third of a lease, until stop_heartbeat.
void start_heartbeat(plant_ledger &p, const run_facts &run);
void stop_heartbeat(plant_ledger &p);

}  // namespace veld
