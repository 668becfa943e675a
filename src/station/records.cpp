#include "records.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "process.hpp"
#include "recreate.hpp"
#include "settings.hpp"
#include "text.hpp"
#include "timestamp.hpp"

namespace veld {

const char *result_name(result r) {
    switch (r) {
        case result::configured: return "configured";
        case result::failed: return "failed";
        case result::skipped: return "skipped";
        case result::interrupted: return "interrupted";
        case result::passed_over: return "passed over";
    }
    return "";
}

void format_result_line(const port_record &r, std::string &out) {
    const text_sink to = string_sink(out);
    write_field(to, r.device.data(), r.device.size());
    out += '\t';
    out += r.imei_known ? r.id.imei : "-";
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, "\t%s\t%zu/", result_name(r.what), r.acknowledged);
    out += numbers;
    if (r.config != nullptr) std::snprintf(numbers, sizeof numbers, "%zu\t%.1f\t", r.lines, r.seconds);
    else std::snprintf(numbers, sizeof numbers, "-\t%.1f\t", r.seconds);
    out += numbers;
    write_field(to, r.why.text, std::strlen(r.why.text));
    out += '\n';
}

namespace {

// "KEY": "TEXT", or "KEY": null, and ", ".
void put_member(std::string &out, report_key key, const char *text, std::size_t len, bool known) {
    if (known) {
        write_json_member(string_sink(out), key_name(key), text, len);
    } else {
        out.append("\"").append(key_name(key)).append("\": null, ");
    }
}

void put_member(std::string &out, report_key key, const std::string &text, bool known) {
    put_member(out, key, text.data(), text.size(), known);
}

// "KEY": VALUE, and ", ", for a number or a word of JSON's own.
void put_value(std::string &out, report_key key, const char *value) {
    out.append("\"").append(key_name(key)).append("\": ").append(value).append(", ");
}

}  // namespace

std::string make_run_id() {
    char moment[40];
    format_utc(wall_clock_ms(), moment, sizeof moment);
    char id[96];
    std::snprintf(id, sizeof id, "%s-%lu-%08x", moment, this_process_id(), static_cast<unsigned>(per_run_entropy()));
    return id;
}

void format_report_object(const port_record &r, const run_facts &run, std::size_t number, std::string &out) {
    out += '{';
    put_member(out, report_key::object, run.run + "/" + std::to_string(number), true);
    put_member(out, report_key::device, r.device, true);
    put_member(out, report_key::imei, r.id.imei, std::strlen(r.id.imei), r.imei_known);
    put_member(out, report_key::imsi, r.id.imsi, std::strlen(r.id.imsi), r.imsi_known);
    put_member(out, report_key::endpoint, r.endpoint, r.endpoint_len, r.endpoint != nullptr);
    std::string command;
    if (r.config != nullptr) write_command(*r.config, string_sink(command).put, &command);
    put_member(out, report_key::command, command, r.config != nullptr);
    put_value(out, report_key::lines, r.config != nullptr ? std::to_string(r.lines).c_str() : "null");
    put_value(out, report_key::acknowledged, std::to_string(r.acknowledged).c_str());
    put_member(out, report_key::result, result_name(r.what), std::strlen(result_name(r.what)), true);
    put_member(out, report_key::reason, r.why.text, std::strlen(r.why.text), r.what != result::configured);
    char text[40];
    format_utc(r.started_ms, text, sizeof text);
    put_member(out, report_key::started, text, std::strlen(text), true);
    std::snprintf(text, sizeof text, "%.3f", r.seconds);
    put_value(out, report_key::seconds, text);
    put_member(out, report_key::station, run.station, true);
    put_member(out, report_key::operator_name, run.operator_name,
               run.operator_name != nullptr ? std::strlen(run.operator_name) : 0, run.operator_name != nullptr);
    put_member(out, report_key::run, run.run, true);
    put_member(out, report_key::version, run.version, std::strlen(run.version), true);
    put_member(out, report_key::transcript, r.transcript, !r.transcript.empty());
    put_member(out, report_key::slot, r.slot, !r.slot.empty());
    if (run.lot != nullptr) put_member(out, report_key::lot, run.lot, std::strlen(run.lot), true);
    out.erase(out.size() - 2);  // the last member's ", "
    out += "}\n";
}

namespace {

// The counter of a result, or null for one not counted (a skip that is no
// earlier run's).
std::size_t *counter(tally &t, result what, bool before) {
    switch (what) {
        case result::configured: return &t.configured;
        case result::failed: return &t.failed;
        case result::interrupted: return &t.interrupted;
        case result::skipped: return before ? &t.before : nullptr;
        case result::passed_over: return nullptr;
    }
    return nullptr;
}

void note(std::string &list, const counted_module &m, bool why) {
    if (!list.empty()) list += ", ";
    list += m.device;
    if (!m.slot.empty()) list.append(" [").append(m.slot).append("]");
    if (why) list.append(" (").append(m.why).append(")");
}

}  // namespace

void count_result(tally &t, const port_record &r) {
    const std::size_t order = t.results++;
    const std::string module =
        r.imei_known ? module_key(r.id.imei, r.imsi_known ? r.id.imsi : "") : "#" + std::to_string(order);
    const auto found = t.modules.find(module);
    if (found != t.modules.end() && r.what == result::skipped) return;  // it says nothing new of the module
    if (found != t.modules.end()) {
        if (std::size_t *was = counter(t, found->second.what, found->second.before)) --*was;
    }
    t.modules[module] = {r.what, r.before, order, r.device, r.slot, r.why.text};
    if (std::size_t *now = counter(t, r.what, r.before)) ++*now;
}

void format_summary(const tally &t, std::string &out) {
    std::vector<const counted_module *> in_order;
    for (const auto &m : t.modules) in_order.push_back(&m.second);
    std::sort(in_order.begin(), in_order.end(),
              [](const counted_module *a, const counted_module *b) { return a->order < b->order; });
    std::string failures, interruptions;
    for (const counted_module *m : in_order) {
        if (m->what == result::failed) note(failures, *m, true);
        if (m->what == result::interrupted) note(interruptions, *m, false);
    }
    out += "configured " + std::to_string(t.configured) + " of " +
           std::to_string(t.configured + t.failed + t.interrupted) + " modules";
    if (t.before > 0) out += "; " + std::to_string(t.before) + " configured before";
    if (t.failed > 0) {
        out += "; failed: ";
        write_field(string_sink(out), failures.data(), failures.size());
    }
    if (t.interrupted > 0) {
        out += "; interrupted: ";
        write_field(string_sink(out), interruptions.data(), interruptions.size());
    }
    out += '\n';
}

}  // namespace veld
