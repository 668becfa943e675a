// A ledger held in memory, with the contract of ledger.hpp, for the logic
// above it: the same findings as the server's (a module configured twice
// in a lot; an endpoint name on a server URI given to another module, the
// first to take it holding it), and down, a ledger that cannot be
// reached.
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ledger.hpp"

struct memory_ledger {
    std::set<std::string> lots;
    std::map<std::pair<std::string, std::string>, veld::manifest_entry> manifest;  // by lot and IMEI
    std::vector<veld::result_row> results;                                        // in the order they came
    std::set<std::string> objects;
    bool down = false;
};

namespace memory_ledger_body {

inline memory_ledger &of(void *context) { return *static_cast<memory_ledger *>(context); }

inline bool reachable(const memory_ledger &m, veld::reason &why) {
    return !m.down || veld::fail(why, "cannot reach the ledger: down");
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
    added = 0;
    for (const veld::result_row &row : rows) {
        if (!m.objects.insert(row.object).second) continue;
        m.results.push_back(row);
        ++added;
    }
    return true;
}

inline veld::listed_result listed(const veld::result_row &r) {
    return {r.server_uri, r.endpoint, r.imei, r.imsi, r.lot, r.station, r.started, r.object};
}

inline bool configured(const veld::result_row &r) { return r.result == "configured"; }

// The first configured result to give each name on each server: its
// holder.
inline std::map<std::pair<std::string, std::string>, const veld::result_row *> holders(const memory_ledger &m) {
    std::map<std::pair<std::string, std::string>, const veld::result_row *> held;
    for (const veld::result_row &r : m.results) {
        if (configured(r) && !r.endpoint.empty() && !r.server_uri.empty()) held.insert({{r.server_uri, r.endpoint}, &r});
    }
    return held;
}

inline bool read_status(void *context, const std::string &lot, veld::lot_status &status, veld::reason &why) {
    const memory_ledger &m = of(context);
    std::map<std::pair<std::string, std::string>, long long> counts;
    std::map<std::pair<std::string, std::string>, int> configured_times;
    for (const veld::result_row &r : m.results) {
        if (r.lot != lot) continue;
        ++counts[{r.station, r.result}];
        if (configured(r) && !r.imei.empty() && !r.imsi.empty()) ++configured_times[{r.imei, r.imsi}];
    }
    for (const auto &c : counts) status.counts.push_back({c.first.first, c.first.second, c.second});
    const auto held = holders(m);
    std::set<std::pair<std::string, std::string>> clashing;
    for (const veld::result_row &r : m.results) {
        if (!configured(r)) continue;
        if (r.lot == lot && configured_times[{r.imei, r.imsi}] > 1) status.twice.push_back(listed(r));
        const auto holder = held.find({r.server_uri, r.endpoint});
        if (holder != held.end() && (holder->second->imei != r.imei || holder->second->imsi != r.imsi) &&
            (r.lot == lot || holder->second->lot == lot)) {
            clashing.insert(holder->first);
        }
    }
    for (const veld::result_row &r : m.results) {
        if (configured(r) && clashing.count({r.server_uri, r.endpoint}) == 1) status.clashes.push_back(listed(r));
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

}  // namespace memory_ledger_body

inline veld::ledger memory_operations(memory_ledger &m) {
    using namespace memory_ledger_body;
    return {&m, lot_exists, add_lot, read_manifest, add_results, read_status, read_lines};
}
