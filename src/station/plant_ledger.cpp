#include "plant_ledger.hpp"

#include <chrono>
#include <cstring>
#include <system_error>

#include "recreate.hpp"
#include "report.hpp"
#include "sync.hpp"

namespace veld {

namespace {

// The results held back, oldest first, until one fails. Called with
// p.lock held.
bool catch_up(plant_ledger &p, reason &why) {
    std::size_t sent = 0;
    while (sent < p.behind.size() && p.ops.add_result(p.ops.context, p.behind[sent].row, why)) ++sent;
    p.behind.erase(p.behind.begin(), p.behind.begin() + static_cast<long>(sent));
    return p.behind.empty();
}

// What the answer makes of the port: its result and reason.
bool take_answer(const claim_answer &a, port_record &r) {
    switch (a.outcome) {
        case claim_outcome::claimed: r.claimed = true; return true;
        case claim_outcome::configured:
            r.what = result::skipped;
            r.before = true;
            return fail(r.why, "configured at %s by %s", a.since.c_str(), a.station.c_str());
        case claim_outcome::other_command:
            r.what = result::failed;
            return fail(r.why, "configured at %s by %s as %s (configuring it anew takes another lot)",
                        a.since.c_str(), a.station.c_str(), a.other.c_str());
        case claim_outcome::busy:
            r.what = result::skipped;
            return fail(r.why, "being configured by %s since %s", a.station.c_str(), a.since.c_str());
        case claim_outcome::unfinished:
            r.what = result::failed;
            return fail(r.why, "claimed by %s at %s and never finished; see veldconf-ledger release",
                        a.station.c_str(), a.since.c_str());
        case claim_outcome::name_taken:
            r.what = result::failed;
            return fail(r.why, "endpoint name %.*s already given to %s", static_cast<int>(r.endpoint_len),
                        r.endpoint, a.other.c_str());
    }
    return false;
}

void beat(plant_ledger &p, run_facts run) {
    std::unique_lock<std::mutex> hold(p.lock);
    const auto every = std::chrono::milliseconds(p.lease_seconds * 1000 / 3);
    while (!p.wake.wait_for(hold, every, [&p] { return p.stopping; })) {
        reason why;  // a heartbeat that does not reach the ledger tries again at the next
        p.ops.renew(p.ops.context, run.run, run.station, p.lot, why);
    }
}

}  // namespace

bool claim_in_ledger(plant_ledger &p, const run_facts &run, const client_config &config, bool port_fixed,
                     port_record &r) {
    claim_request q{p.lot, r.id.imei, r.id.imsi, run.station, run.run, "", std::string(config.uri, config.uri_len),
                    std::string(r.endpoint, r.endpoint_len), port_fixed};
    write_command(config, string_sink(q.command).put, &q.command);
    claim_answer answer{};
    reason why;
    std::lock_guard<std::mutex> hold(p.lock);
    if (!catch_up(p, why) || !p.ops.claim(p.ops.context, q, answer, why)) {
        r.what = result::failed;
        return fail(r.why, "the ledger cannot be reached: %s", why.text);
    }
    return take_answer(answer, r);
}

bool commit_result(plant_ledger &p, const std::string &object, bool claimed, reason &why) {
    report_object o;
    result_row row;
    if (!parse_report_line(object.substr(0, object.size() - 1), o) || !row_of(o, p.lot, row, why)) {
        return fail(why, "the ledger cannot take its object: %s", why.text);
    }
    std::lock_guard<std::mutex> hold(p.lock);
    if (catch_up(p, why) && p.ops.add_result(p.ops.context, row, why)) return true;
    p.behind.push_back({row, claimed});
    return false;
}

void count_behind(plant_ledger &p, std::size_t &all, std::size_t &claimed) {
    std::lock_guard<std::mutex> hold(p.lock);
    all = p.behind.size();
    claimed = 0;
    for (const plant_ledger::behind_result &b : p.behind) claimed += b.claimed;
}

void start_heartbeat(plant_ledger &p, const run_facts &run) {
    reason why;
    p.ops.renew(p.ops.context, run.run, run.station, p.lot, why);  // the run is seen from its start
    try {
        p.heartbeat = std::thread(beat, std::ref(p), run);
    } catch (const std::system_error &) {
        // no heartbeat: each claim lasts its lease, as a claim does
    }
}

void stop_heartbeat(plant_ledger &p) {
    if (!p.heartbeat.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(p.lock);
        p.stopping = true;
    }
    p.wake.notify_all();
    p.heartbeat.join();
}

}  // namespace veld
