#include "records.hpp"

#include <cstring>
#include <random>

#include "record_file.hpp"
#include "recreate.hpp"
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

namespace {

void append(void *context, const char *text, std::size_t len) {
    static_cast<std::string *>(context)->append(text, len);
}

}  // namespace

text_sink string_sink(std::string &text) { return {append, &text}; }

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
void put_member(std::string &out, const char *key, const char *text, std::size_t len, bool known) {
    if (known) {
        write_json_member(string_sink(out), key, text, len);
    } else {
        out.append("\"").append(key).append("\": null, ");
    }
}

}  // namespace

std::string make_run_id() {
    char moment[40];
    format_utc(wall_clock_ms(), moment, sizeof moment);
    std::random_device entropy;
    char id[96];
    std::snprintf(id, sizeof id, "%s-%lu-%08x", moment, this_process_id(), static_cast<unsigned>(entropy()));
    return id;
}

void format_report_object(const port_record &r, const run_facts &run, std::string &out) {
    out += '{';
    put_member(out, "device", r.device.data(), r.device.size(), true);
    put_member(out, "imei", r.id.imei, std::strlen(r.id.imei), r.imei_known);
    put_member(out, "imsi", r.id.imsi, std::strlen(r.id.imsi), r.imsi_known);
    put_member(out, "endpoint", r.endpoint, r.endpoint_len, r.endpoint != nullptr);
    std::string command;
    if (r.config != nullptr) write_command(*r.config, string_sink(command).put, &command);
    put_member(out, "command", command.data(), command.size(), r.config != nullptr);
    char number[128];
    if (r.config != nullptr) std::snprintf(number, sizeof number, "\"lines\": %zu, ", r.lines);
    else std::snprintf(number, sizeof number, "\"lines\": null, ");
    out += number;
    std::snprintf(number, sizeof number, "\"acknowledged\": %zu, \"result\": \"%s\", ", r.acknowledged,
                  result_name(r.what));
    out += number;
    put_member(out, "reason", r.why.text, std::strlen(r.why.text), r.what != result::configured);
    char started[40];
    format_utc(r.started_ms, started, sizeof started);
    std::snprintf(number, sizeof number, "\"started\": \"%s\", \"seconds\": %.3f, ", started, r.seconds);
    out += number;
    put_member(out, "station", run.station.data(), run.station.size(), true);
    put_member(out, "operator", run.operator_name, run.operator_name != nullptr ? std::strlen(run.operator_name) : 0,
               run.operator_name != nullptr);
    put_member(out, "run", run.run.data(), run.run.size(), true);
    put_member(out, "version", run.version, std::strlen(run.version), true);
    put_member(out, "transcript", r.transcript.data(), r.transcript.size(), !r.transcript.empty());
    put_member(out, "slot", r.slot.data(), r.slot.size(), !r.slot.empty());
    out.erase(out.size() - 2);  // the last member's ", "
    out += "}\n";
}

namespace {

void note(std::string &list, const std::string &device, const std::string &slot, const char *why) {
    if (!list.empty()) list += ", ";
    list += device;
    if (!slot.empty()) list.append(" [").append(slot).append("]");
    if (why != nullptr) list.append(" (").append(why).append(")");
}

}  // namespace

void count_result(tally &t, const port_record &r) {
    ++t.done;
    if (r.what == result::configured) ++t.configured;
    if (r.what == result::skipped && r.before) ++t.before;
    if (r.what == result::failed) {
        ++t.failed;
        note(t.failures, r.device, r.slot, r.why.text);
    }
    if (r.what == result::interrupted) {
        ++t.interrupted;
        note(t.interruptions, r.device, r.slot, nullptr);
    }
}

void write_summary(std::FILE *out, const tally &t) {
    std::fprintf(out, "configured %zu of %zu modules", t.configured, t.configured + t.failed + t.interrupted);
    if (t.before > 0) std::fprintf(out, "; %zu configured before", t.before);
    if (t.failed > 0) {
        std::fputs("; failed: ", out);
        write_field(out, t.failures.data(), t.failures.size());
    }
    if (t.interrupted > 0) {
        std::fputs("; interrupted: ", out);
        write_field(out, t.interruptions.data(), t.interruptions.size());
    }
    std::fputc('\n', out);
}

}  // namespace veld
