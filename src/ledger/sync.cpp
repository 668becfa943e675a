#include "sync.hpp"

#include <cstring>

#include "lot_text.hpp"
#include "report.hpp"

namespace veld {

namespace {

struct batch_of {
    report_rows &rows;
    std::vector<result_row> &batch;
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
    auto &to = *static_cast<batch_of *>(context);
    if (!whole) {
        to.rows.cut_lines.push_back(line);
        return true;
    }
    result_row row;
    reason fault;
    if (to.rows.lotless_passed && to.rows.lot.empty() && member(o, report_key::lot) == nullptr) return true;
    if (!row_of(o, to.rows.lot, row, fault)) return fail(why, "line %ld: %s", line, fault.text);
    to.batch.push_back(std::move(row));
    ++to.rows.objects;
    return true;
}

}  // namespace

bool row_of(const report_object &o, const std::string &lot, result_row &row, reason &why) {
    row.object = text_of(o, report_key::object);
    row.lot = text_of(o, report_key::lot);
    if (row.lot.empty()) row.lot = lot;
    row.started = text_of(o, report_key::started);
    row.result = text_of(o, report_key::result);
    reason lot_fault;
    if (row.object.empty()) return fail(why, "the object has no id (\"object\")");
    if (row.lot.empty()) return fail(why, "the object names no lot; give one with --lot");
    if (!check_lot_name(row.lot, lot_fault)) return fail(why, "%s", lot_fault.text);
    if (!valid_utf8(o.text.data(), o.text.size())) return fail(why, "not UTF-8");
    if (!is_moment(row.started)) return fail(why, "\"started\" is no moment in UTC");
    if (row.result.empty()) return fail(why, "the object has no result");
    row.imei = text_of(o, report_key::imei);
    row.imsi = text_of(o, report_key::imsi);
    row.station = text_of(o, report_key::station);
    row.run = text_of(o, report_key::run);
    row.endpoint = text_of(o, report_key::endpoint);
    const std::string *command = member(o, report_key::command);
    if (command != nullptr && !command_uri(*command, row.server_uri)) {
        return fail(why, "the command names no server URI");
    }
    if (command != nullptr) row.command = *command;
    row.line = o.text;
    return true;
}

bool open_rows(report_rows &rows, const char *path, const std::string &lot, bool &missing, reason &why) {
    rows.lot = lot;
    rows.batch = batch_rows;
    return report_open(rows.reader, path, missing, why);
}

bool next_rows(void *context, std::vector<result_row> &batch, reason &why) {
    auto &rows = *static_cast<report_rows *>(context);
    batch.clear();
    batch_of to{rows, batch};
    while (!rows.ended && batch.size() < rows.batch) {
        const input_step step = report_line(rows.reader, take_result, &to, why);
        if (step == input_step::fault) return false;
        rows.ended = step == input_step::end;
    }
    return true;
}

void close_rows(report_rows &rows) { report_close(rows.reader); }

bool sync_report(const ledger &l, const char *path, const std::string &lot, sync_counts &counts, reason &why,
                 bool own, std::size_t batch) {
    report_rows rows{};
    bool missing = false;
    if (!open_rows(rows, path, lot, missing, why)) return own && missing;
    rows.lotless_passed = own;
    rows.batch = batch;
    const bool synced = l.add_results(l.context, next_rows, &rows, counts.added, why);
    close_rows(rows);
    counts.objects = rows.objects;
    counts.cut_lines = rows.cut_lines;
    return synced;
}

}  // namespace veld
