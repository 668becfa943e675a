#include "lot_text.hpp"

#include <cstring>

#include "report.hpp"

namespace veld {

namespace {

void put(std::string &out, const std::string &text) { write_field(string_sink(out), text.data(), text.size()); }

// A run of listed results that share a key (a module, or a name on a
// server): [first, end).
std::size_t run_end(const std::vector<listed_result> &list, std::size_t first, bool by_name) {
    std::size_t end = first + 1;
    const listed_result &a = list[first];
    while (end < list.size() && (by_name ? list[end].server_uri == a.server_uri && list[end].endpoint == a.endpoint
                                         : list[end].imei == a.imei && list[end].imsi == a.imsi)) {
        ++end;
    }
    return end;
}

void format_twice(const std::vector<listed_result> &twice, std::string &out) {
    for (std::size_t first = 0, end = 0; first < twice.size(); first = end) {
        end = run_end(twice, first, false);
        out += "conflict: module ";
        put(out, module_key(twice[first].imei, twice[first].imsi));
        out += " configured " + std::to_string(end - first) + " times: ";
        for (std::size_t i = first; i < end; ++i) {
            put(out, twice[i].station);
            out += " at " + twice[i].started + " (lot " + twice[i].lot + (i + 1 < end ? "), " : ")\n");
        }
    }
}

void format_clashes(const std::vector<listed_result> &clashes, std::string &out) {
    for (std::size_t first = 0, end = 0; first < clashes.size(); first = end) {
        end = run_end(clashes, first, true);
        out += "clash: endpoint name ";
        put(out, clashes[first].endpoint);
        out += " on ";
        put(out, clashes[first].server_uri);
        out += " given " + std::to_string(end - first) + " times: ";
        for (std::size_t i = first; i < end; ++i) {
            put(out, module_key(clashes[i].imei, clashes[i].imsi));
            out += " (lot " + clashes[i].lot + ", ";
            put(out, clashes[i].station);
            out += " at " + clashes[i].started + (i + 1 < end ? "), " : ")\n");
        }
    }
}

void format_claims(const std::vector<open_claim> &claims, std::string &out) {
    for (const open_claim &c : claims) {
        out += "unfinished: ";
        put(out, module_key(c.imei, c.imsi));
        out += " claimed by ";
        put(out, c.station);
        out += " (run ";
        put(out, c.run);
        out += ") at " + c.claimed + ", its lease until " + c.lease_until + "\n";
    }
}

// A CSV cell: in double quotes, its quotes doubled, when it holds a
// comma, a quote, a line end or blanks at an end.
void put_cell(std::string &out, const std::string &cell) {
    const bool quoted = cell.find_first_of(",\"\r\n") != std::string::npos ||
                        (!cell.empty() && (cell.front() == ' ' || cell.back() == ' '));
    if (!quoted) {
        out += cell;
        return;
    }
    out += '"';
    for (char c : cell) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    out += '"';
}

}  // namespace

bool check_lot_name(const std::string &lot, reason &why) {
    if (lot.empty() || lot.size() > 200) return fail(why, "a lot's name takes 1 to 200 bytes");
    if (!valid_utf8(lot.data(), lot.size())) return fail(why, "a lot's name is UTF-8");
    for (unsigned char c : lot) {
        if (c < 0x20 || c == 0x7F) return fail(why, "a lot's name holds no control byte");
    }
    return true;
}

void format_status(const std::string &lot, const lot_status &status, std::string &out) {
    out += "lot " + lot + "\n";  // a lot's name is checked: no byte of it needs escaping
    for (std::size_t i = 0; i < status.counts.size(); ++i) {
        const station_count &c = status.counts[i];
        const bool first = i == 0 || status.counts[i - 1].station != c.station;
        const bool last = i + 1 == status.counts.size() || status.counts[i + 1].station != c.station;
        if (first) {
            out += "station ";
            put(out, c.station);
            out += ": ";
        }
        put(out, c.result);
        out += " " + std::to_string(c.results) + (last ? "\n" : ", ");
    }
    format_twice(status.twice, out);
    format_clashes(status.clashes, out);
    format_claims(status.claims, out);
    for (const twin_runs &t : status.twins) {
        out += "twins: station ";
        put(out, t.station);
        out += " is live in runs ";
        put(out, t.runs);
        out += "\n";
    }
    if (status.twice.empty() && status.clashes.empty() && status.claims.empty() && status.twins.empty()) {
        out += "no conflicts\n";
    }
}

void format_csv_header(std::string &out) {
    out += "lot";
    for (std::size_t k = 0; k < static_cast<std::size_t>(report_key::count); ++k) {
        if (static_cast<report_key>(k) != report_key::lot) out.append(",").append(key_name(static_cast<report_key>(k)));
    }
    out += "\r\n";
}

bool format_csv_row(const std::string &lot, const std::string &line, std::string &out) {
    report_object o;
    if (!parse_report_line(line, o)) return false;
    put_cell(out, lot);
    for (std::size_t k = 0; k < static_cast<std::size_t>(report_key::count); ++k) {
        const auto key = static_cast<report_key>(k);
        if (key == report_key::lot) continue;
        const std::string *text = member(o, key);
        out += ',';
        put_cell(out, text == nullptr ? std::string() : *text);
    }
    out += "\r\n";
    return true;
}

}  // namespace veld
