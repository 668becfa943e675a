#include "sync.hpp"

#include <cstring>
#include <set>

#include "lot_text.hpp"
#include "report.hpp"

namespace veld {

namespace {

struct reading {
    const std::string &lot;
    std::vector<result_row> &rows;
    std::vector<long> &cut_lines;
};

std::string text_of(const report_object &o, report_key key) {
    const std::string *text = member(o, key);
    return text == nullptr ? std::string() : *text;
}

// YYYY-MM-DDTHH:MM:SS, then at most a fraction and a Z, as the reports
// write a moment in UTC.
bool is_moment(const std::string &text) {
    static const char shape[] = "dddd-dd-ddTdd:dd:dd";
    const std::size_t fixed = sizeof shape - 1;
    if (text.size() < fixed + 1 || text.back() != 'Z') return false;
    for (std::size_t i = 0; i < fixed; ++i) {
        if (shape[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != shape[i]) return false;
    }
    const std::string rest = text.substr(fixed, text.size() - fixed - 1);
    return rest.empty() || (rest[0] == '.' && rest.size() > 1 && all_digits(rest.data() + 1, rest.size() - 1));
}

bool take_result(void *context, long line, bool whole, const report_object &o, reason &why) {
    auto &r = *static_cast<reading *>(context);
    if (!whole) {
        r.cut_lines.push_back(line);
        return true;
    }
    result_row row;
    row.object = text_of(o, report_key::object);
    row.lot = text_of(o, report_key::lot);
    if (row.lot.empty()) row.lot = r.lot;
    row.started = text_of(o, report_key::started);
    row.result = text_of(o, report_key::result);
    if (row.object.empty()) return fail(why, "line %ld: the object has no id (\"object\")", line);
    if (row.lot.empty()) return fail(why, "line %ld: the object names no lot; give one with --lot", line);
    if (!valid_utf8(o.text.data(), o.text.size())) return fail(why, "line %ld: not UTF-8", line);
    if (!is_moment(row.started)) return fail(why, "line %ld: \"started\" is no moment in UTC", line);
    if (row.result.empty()) return fail(why, "line %ld: the object has no result", line);
    row.imei = text_of(o, report_key::imei);
    row.imsi = text_of(o, report_key::imsi);
    row.station = text_of(o, report_key::station);
    row.run = text_of(o, report_key::run);
    row.endpoint = text_of(o, report_key::endpoint);
    const std::string *command = member(o, report_key::command);
    if (command != nullptr && !command_uri(*command, row.server_uri)) {
        return fail(why, "line %ld: the command names no server URI", line);
    }
    row.line = o.text;
    r.rows.push_back(std::move(row));
    return true;
}

}  // namespace

bool read_results(const char *path, const std::string &lot, std::vector<result_row> &rows,
                  std::vector<long> &cut_lines, reason &why) {
    reading r{lot, rows, cut_lines};
    bool missing = false;
    return read_report(path, missing, take_result, &r, why);
}

bool sync_report(const ledger &l, const char *path, const std::string &lot, sync_counts &counts, reason &why) {
    std::vector<result_row> rows;
    if (!read_results(path, lot, rows, counts.cut_lines, why)) return false;
    std::set<std::string> lots;
    for (const result_row &row : rows) lots.insert(row.lot);
    for (const std::string &named : lots) {
        if (!check_lot_name(named, why)) return false;
        bool exists = false;
        if (!l.lot_exists(l.context, named, exists, why)) return false;
        if (!exists) return fail(why, "no lot %s in the ledger; make it with: veldconf-ledger lot", named.c_str());
    }
    counts.objects = rows.size();
    return l.add_results(l.context, rows, counts.added, why);
}

}  // namespace veld
