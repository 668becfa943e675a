#include "resume.hpp"

#include <cstdio>
#include <cstring>

#include "records.hpp"
#include "report.hpp"
#include "recreate.hpp"

namespace veld {

namespace {

// A cut object naming a module: whatever it was to say, the module is
// not known to be configured. A whole object is the module's latest,
// unless it only says the module was skipped (which configures nothing,
// and must not hide what did).
bool take_object_read(void *context, long line, bool whole, const report_object &o, reason &) {
    auto &state = *static_cast<resume_state *>(context);
    const std::string module = module_named(o);
    if (!whole) {
        state.cut_lines.push_back(line);
        if (!module.empty()) state.latest[module] = {"cut short", "", "", ""};
        return true;
    }
    const std::string &what = o.members.at(key_name(report_key::result));
    if (module.empty() || what == result_name(result::skipped)) return true;
    const std::string *command = member(o, report_key::command);
    state.latest[module] = {what, command == nullptr ? "" : *command, o.members.at(key_name(report_key::started)),
                            o.members.at(key_name(report_key::device))};
    return true;
}

}  // namespace

bool read_resume(const char *path, resume_state &state, reason &why) {
    bool missing = false;
    return read_report(path, missing, take_object_read, &state, why) || missing;  // no report yet: nothing was done
}

void note_configured(resume_state &state, const std::string &module, const client_config &config,
                     const std::string &started, const std::string &device) {
    std::string command;
    write_command(config, string_sink(command).put, &command);
    state.latest[module] = {result_name(result::configured), command, started, device};
}

bool configured_before(const resume_state &state, const std::string &module, const client_config &config,
                       bool port_fixed, reason &why) {
    const auto found = state.latest.find(module);
    if (found == state.latest.end() || found->second.result != "configured") return false;
    const done_before &done = found->second;
    client_config same = config;
    const std::size_t port_at = done.command.find(" -p ");
    if (!port_fixed && port_at != std::string::npos) {
        same.port = static_cast<std::uint16_t>(std::strtoul(done.command.c_str() + port_at + 4, nullptr, 10));
    }
    std::string command;
    write_command(same, string_sink(command).put, &command);
    if (command != done.command) return false;
    return !fail(why, "configured at %s on %s", done.started.c_str(), done.device.c_str());
}

}  // namespace veld
