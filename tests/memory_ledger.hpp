// A ledger held in memory, with the contract of ledger.hpp, for the logic
// above it: the same findings as the server's (a module configured twice
// in a lot; an endpoint name on a server URI given to another module, the
// first to take it holding it), the same claims and leases on a clock of
// its own (now_ms, which a test moves), and down, a ledger that cannot be
// reached.
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ledger.hpp"
#include "timestamp.hpp"

struct memory_claim {
    std::string station, run, command;
    long long claimed_ms, lease_until_ms;
    std::string finished;  // the result's object, or empty
};

struct memory_name {
    std::string imei, imsi, lot, station, object;
};

struct memory_run {
    std::string station, lot;
    long long seen_ms;
};

struct memory_ledger {
    std::set<std::string> lots;
    std::map<std::pair<std::string, std::string>, veld::manifest_entry> manifest;  // by lot and IMEI
    std::vector<veld::result_row> results;                                        // in the order they came
    std::set<std::string> objects;
    std::map<std::tuple<std::string, std::string, std::string>, memory_claim> claims;  // by lot, IMEI, IMSI
    std::map<std::pair<std::string, std::string>, memory_name> names;                  // by server URI, name
    std::set<std::string> clashing;  // the objects that gave a name held by another module
    std::map<std::string, memory_run> runs;
    long long now_ms = 1796000000000;
    long lease_seconds = 30;
    bool down = false;
};

namespace memory_ledger_body {

inline memory_ledger &of(void *context) { return *static_cast<memory_ledger *>(context); }

inline bool reachable(const memory_ledger &m, veld::reason &why) {
    return !m.down || veld::fail(why, "cannot reach the ledger: down");
}

inline std::string utc(long long ms) {
    char text[40];
    veld::format_utc(ms, text, sizeof text);
    return text;
}

inline bool lot_exists(void *context, const std::string &lot, bool &exists, veld::reason &why) {
    exists = of(context).lots.count(lot) == 1;
    return reachable(of(context), why);
}

inline std::vector<std::pair<std::string, std::string>> sorted(std::vector<std::pair<std::string, std::string>> cells) {
    std::sort(cells.begin(), cells.end());
    return cells;
}

inline bool add_lot(void *context, const std::string &lot, const std::vector<veld::manifest_entry> &rows,
                    bool &created, std::size_t &added, veld::reason &why) {
    memory_ledger &m = of(context);
    if (!reachable(m, why)) return false;
    for (const veld::manifest_entry &row : rows) {
        const auto held = m.manifest.find({lot, row.imei});
        if (held != m.manifest.end() && sorted(held->second.cells) != sorted(row.cells)) {
            return veld::fail(why, "line %ld: module %s is in the lot with other values (its line %ld there)",
                              row.line, row.imei.c_str(), held->second.line);
        }
    }
    created = m.lots.insert(lot).second;
    added = 0;
    for (const veld::manifest_entry &row : rows) added += m.manifest.insert({{lot, row.imei}, row}).second;
    return true;
}

inline bool read_manifest(void *context, const std::string &lot, std::vector<veld::manifest_entry> &rows,
                          veld::reason &why) {
    for (const auto &held : of(context).manifest) {
        if (held.first.first == lot) rows.push_back({held.second.line, held.second.imei, sorted(held.second.cells)});
    }
    std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return a.line < b.line; });
    return reachable(of(context), why);
}

inline bool configured(const veld::result_row &r) { return r.result == "configured"; }

// A result taken in, as the server's trigger takes it: the name's holder,
// a clash, the run's claim ended, a claim for a module configured with
// none.
inline void take_row(memory_ledger &m, const veld::result_row &row) {
    if (!m.objects.insert(row.object).second) return;
    m.results.push_back(row);
    if (!configured(row)) {
        auto claim = m.claims.find({row.lot, row.imei, row.imsi});
        if (claim != m.claims.end() && claim->second.run == row.run && claim->second.finished.empty()) {
            claim->second.finished = row.object;
        }
        return;
    }
    if (!row.endpoint.empty() && !row.server_uri.empty()) {
        memory_name &name = m.names.insert({{row.server_uri, row.endpoint},
                                            {row.imei, row.imsi, row.lot, row.station, row.object}})
                                .first->second;
        if (name.object.empty() && name.imei == row.imei && name.imsi == row.imsi) name.object = row.object;
        if (name.imei != row.imei || name.imsi != row.imsi) m.clashing.insert(row.object);
    }
    if (row.imei.empty() || row.imsi.empty()) return;
    auto claim = m.claims.find({row.lot, row.imei, row.imsi});
    if (claim == m.claims.end()) {
        m.claims[{row.lot, row.imei, row.imsi}] = {row.station, row.run, row.command, m.now_ms, m.now_ms, row.object};
    } else if (claim->second.run == row.run && claim->second.finished.empty()) {
        claim->second.finished = row.object;
    }
}

inline bool add_results(void *context, veld::row_source next, void *source, std::size_t &added, veld::reason &why) {
    memory_ledger &m = of(context);
    if (!reachable(m, why)) return false;
    std::vector<veld::result_row> rows, batch;
    do {
        if (!next(source, batch, why)) return false;
        rows.insert(rows.end(), batch.begin(), batch.end());
    } while (!batch.empty());
    for (const veld::result_row &row : rows) {
        if (m.lots.count(row.lot) == 0) {
            return veld::fail(why, "no lot %s in the ledger; make it with: veldconf-ledger lot", row.lot.c_str());
        }
    }
    // The first of each object is the one kept, held or in rows.
    std::map<std::string, const std::string *> first;
    for (const veld::result_row &held : m.results) first.insert({held.object, &held.line});
    for (const veld::result_row &row : rows) {
        const auto kept = first.insert({row.object, &row.line}).first;
        if (*kept->second != row.line) {
            return veld::fail(why, "object %s is in the ledger with other text than the report's", row.object.c_str());
        }
    }
    const std::size_t before = m.results.size();
    for (const veld::result_row &row : rows) take_row(m, row);
    added = m.results.size() - before;
    return true;
}

inline bool add_result(void *context, const veld::result_row &row, veld::reason &why) {
    if (!reachable(of(context), why)) return false;
    take_row(of(context), row);
    return true;
}

inline veld::listed_result listed(const veld::result_row &r) {
    return {r.server_uri, r.endpoint, r.imei, r.imsi, r.lot, r.station, r.started, r.object};
}

inline bool read_status(void *context, const std::string &lot, veld::lot_status &status, veld::reason &why) {
    const memory_ledger &m = of(context);
    std::map<std::pair<std::string, std::string>, long long> counts;
    std::map<std::pair<std::string, std::string>, int> configured_times;
    std::set<std::pair<std::string, std::string>> clashing;
    for (const veld::result_row &r : m.results) {
        if (r.lot == lot) ++counts[{r.station, r.result}];
        if (r.lot == lot && configured(r) && !r.imei.empty() && !r.imsi.empty()) ++configured_times[{r.imei, r.imsi}];
        if (m.clashing.count(r.object) == 0) continue;
        const memory_name &holder = m.names.at({r.server_uri, r.endpoint});
        if (r.lot == lot || holder.lot == lot) clashing.insert({r.server_uri, r.endpoint});
    }
    for (const auto &c : counts) status.counts.push_back({c.first.first, c.first.second, c.second});
    for (const veld::result_row &r : m.results) {
        if (!configured(r)) continue;
        if (r.lot == lot && configured_times[{r.imei, r.imsi}] > 1) status.twice.push_back(listed(r));
        if (clashing.count({r.server_uri, r.endpoint}) == 1) status.clashes.push_back(listed(r));
    }
    const auto by = [](bool by_name) {
        return [by_name](const veld::listed_result &a, const veld::listed_result &b) {
            const auto key = [by_name](const veld::listed_result &x) {
                return std::make_tuple(by_name ? x.server_uri : x.imei, by_name ? x.endpoint : x.imsi, x.started,
                                       x.object);
            };
            return key(a) < key(b);
        };
    };
    std::sort(status.twice.begin(), status.twice.end(), by(false));
    std::sort(status.clashes.begin(), status.clashes.end(), by(true));
    for (const auto &c : m.claims) {
        const memory_claim &k = c.second;
        if (std::get<0>(c.first) != lot || !k.finished.empty() || k.lease_until_ms >= m.now_ms) continue;
        status.claims.push_back({std::get<1>(c.first), std::get<2>(c.first), k.station, k.run, utc(k.claimed_ms),
                                 utc(k.lease_until_ms)});
    }
    std::map<std::string, std::string> live;
    std::map<std::string, int> live_count;
    for (const auto &r : m.runs) {
        if (r.second.lot != lot || r.second.seen_ms <= m.now_ms - m.lease_seconds * 1000) continue;
        live[r.second.station] += (live[r.second.station].empty() ? "" : ", ") + r.first;
        ++live_count[r.second.station];
    }
    for (const auto &l : live) {
        if (live_count[l.first] > 1) status.twins.push_back({l.first, l.second});
    }
    return reachable(m, why);
}

inline bool read_lines(void *context, const std::string &lot, void (*each)(void *to, const std::string &line),
                       void *to, veld::reason &why) {
    if (!reachable(of(context), why)) return false;
    for (const veld::result_row &r : of(context).results) {
        if (r.lot == lot) each(to, r.line);
    }
    return true;
}

inline bool read_lease(void *context, long &seconds, veld::reason &why) {
    seconds = of(context).lease_seconds;
    return reachable(of(context), why);
}

// A command with no fixed port, as the ledger compares it: the port left out.
inline std::string portless(const std::string &command) {
    const std::size_t at = command.find(" -p ");
    if (at == std::string::npos) return command;
    return command.substr(0, at) + " -p *" + command.substr(command.find(' ', at + 4));
}

inline bool claim(void *context, const veld::claim_request &q, veld::claim_answer &answer, veld::reason &why) {
    memory_ledger &m = of(context);
    if (!reachable(m, why)) return false;
    const auto key = std::make_tuple(q.lot, q.imei, q.imsi);
    const auto held = m.claims.find(key);
    const memory_claim mine{q.station, q.run, q.command, m.now_ms, m.now_ms + m.lease_seconds * 1000, ""};
    if (held != m.claims.end() && held->second.finished.empty() && held->second.run != q.run) {
        const memory_claim &c = held->second;
        answer = {c.lease_until_ms > m.now_ms ? veld::claim_outcome::busy : veld::claim_outcome::unfinished, c.station,
                  utc(c.claimed_ms), ""};
        return true;
    }
    if (held != m.claims.end() && !held->second.finished.empty()) {
        const memory_claim &c = held->second;
        for (const veld::result_row &r : m.results) {
            if (r.object != c.finished || !configured(r)) continue;
            const bool same = c.command == q.command || (!q.port_fixed && portless(c.command) == portless(q.command));
            answer = {same ? veld::claim_outcome::configured : veld::claim_outcome::other_command, r.station,
                      r.started, c.command};
            return true;
        }
    }
    if (!q.endpoint.empty() && !q.server_uri.empty()) {
        const auto name = m.names.find({q.server_uri, q.endpoint});
        if (name != m.names.end() && (name->second.imei != q.imei || name->second.imsi != q.imsi)) {
            answer = {veld::claim_outcome::name_taken, "", "",
                      name->second.imei + " (lot " + name->second.lot + ", " + name->second.station + ")"};
            return true;
        }
        m.names.insert({{q.server_uri, q.endpoint}, {q.imei, q.imsi, q.lot, q.station, ""}});
    }
    m.claims[key] = mine;
    answer = {veld::claim_outcome::claimed, "", "", ""};
    return true;
}

inline bool renew(void *context, const std::string &run, const std::string &station, const std::string &lot,
                  veld::reason &why) {
    memory_ledger &m = of(context);
    if (!reachable(m, why)) return false;
    for (auto &c : m.claims) {
        if (c.second.run == run && c.second.finished.empty()) c.second.lease_until_ms = m.now_ms + m.lease_seconds * 1000;
    }
    m.runs[run] = {station, lot, m.now_ms};
    return true;
}

inline bool release(void *context, const std::string &lot, const std::string &imei, const std::string &imsi,
                    veld::open_claim &released, veld::reason &why) {
    memory_ledger &m = of(context);
    if (!reachable(m, why)) return false;
    const auto held = m.claims.find({lot, imei, imsi});
    const std::string module = imei + ";" + imsi;
    if (held == m.claims.end()) return veld::fail(why, "no claim of %s in lot %s", module.c_str(), lot.c_str());
    const memory_claim &c = held->second;
    if (!c.finished.empty()) return veld::fail(why, "the claim of %s is finished: nothing to give back", module.c_str());
    if (c.lease_until_ms >= m.now_ms) {
        return veld::fail(why, "the claim of %s by %s (run %s) is live until %s: its run is still working",
                          module.c_str(), c.station.c_str(), c.run.c_str(), utc(c.lease_until_ms).c_str());
    }
    released = {imei, imsi, c.station, c.run, utc(c.claimed_ms), utc(c.lease_until_ms)};
    for (auto name = m.names.begin(); name != m.names.end();) {
        const memory_name &n = name->second;
        name = n.lot == lot && n.imei == imei && n.imsi == imsi && n.object.empty() ? m.names.erase(name)
                                                                                     : std::next(name);
    }
    m.claims.erase(held);
    return true;
}

}  // namespace memory_ledger_body

inline veld::ledger memory_operations(memory_ledger &m) {
    using namespace memory_ledger_body;
    return {&m,         lot_exists, add_lot, read_manifest, add_results, read_status, read_lines,
            read_lease, claim,      renew,   add_result,    release};
}
