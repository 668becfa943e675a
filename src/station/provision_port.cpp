#include "provision_port.hpp"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "names.hpp"
#include "timestamp.hpp"

namespace veld {

namespace {

// The transcript's file while the module is not yet known; named after it
// at the end.
std::FILE *open_transcript(const station &st, std::size_t job, char *path, std::size_t len) {
    if (st.opts.log_dir == nullptr) return nullptr;
    std::snprintf(path, len, "%s/.veldconf-provision.%zu.partial", st.opts.log_dir, job);
    return std::fopen(path, "wb");
}

bool exists(const char *path) {
    std::FILE *f = std::fopen(path, "rb");
    if (f != nullptr) std::fclose(f);
    return f != nullptr;
}

const char *base_name(const char *path) {
    const char *base = path;
    for (const char *at = path; *at != '\0'; ++at) {
        if (*at == '/' || *at == '\\') base = at + 1;
    }
    return base;
}

// IMEI.log, IMEI.2.log, ...: the first that is free. Called with st.lock
// held, so two jobs never take one name.
void name_transcript(const station &st, const char *partial, const port_record &r) {
    const char *stem = r.imei_known ? r.id.imei : base_name(r.device.c_str());
    char path[1024];
    std::snprintf(path, sizeof path, "%s/%s.log", st.opts.log_dir, stem);
    for (int n = 2; exists(path); ++n) {
        std::snprintf(path, sizeof path, "%s/%s.%d.log", st.opts.log_dir, stem, n);
    }
    std::rename(partial, path);
}

// Builds the module's configuration, as veldconf would for its name, and
// checks its lines with the reader's checks; false with the reason.
bool build_configuration(const station &st, job_room &room, port_record &r) {
    const std::size_t len = make_name(st.opts.name, r.id, room.name, max_text_len);
    tool_settings settings = st.opts.tool;
    if (len > max_text_len) return fail(r.why, "NAME exceed.");
    room.name[len] = '\0';
    if (!store_tool_option('n', room.name, settings, r.why)) return false;
    r.endpoint = room.name;
    r.endpoint_len = len;
    if (!settings.port_given) settings.config.port = draw_port();
    room.config = settings.config;
    const std::size_t text_len = format_config_commands(room.config, room.commands, sizeof room.commands);
    if (text_len == 0) return fail(r.why, "the configuration does not fit its buffer");
    // Where the lines do not read back, the reader's fault is the reason.
    if (!read_command_text(room.commands, text_len, room.lines, r.why)) return false;
    r.config = &room.config;
    r.lines = room.lines.line_count;
    return true;
}

// A conversation that ended early ended so because of Ctrl-C, or failed.
result failure() { return port_interrupted() ? result::interrupted : result::failed; }

void take_reason(port_record &r, const session &conversation) { r.why = conversation.why; }

// The conversation itself, on a port that is open: the probe, the
// identity, the configuration, the lines.
void converse(station &st, job_room &room, std::size_t index, port_record &r) {
    session &conversation = room.conversation;
    bool no_answer = false;
    if (!session_wake(conversation, no_answer)) {
        r.what = no_answer && st.opts.watch ? result::passed_over : failure();
        take_reason(r, conversation);
    } else if (!session_identity(conversation, r.id)) {
        r.what = failure();
        take_reason(r, conversation);
    }
    r.imei_known = r.id.imei[0] != '\0';
    r.imsi_known = r.id.imsi[0] != '\0';
    if (r.what == result::configured && r.imei_known) {
        std::lock_guard<std::mutex> hold(st.lock);
        const long other = schedule_module(st.ports, index, r.id.imei);
        if (other >= 0) {
            r.what = result::skipped;
            fail(r.why, "same module as %s", st.ports.ports[static_cast<std::size_t>(other)].path.c_str());
        }
    }
    if (r.what == result::configured && !build_configuration(st, room, r)) r.what = result::failed;
    if (r.what == result::configured &&
        !session_send(conversation, room.lines, r.acknowledged, nullptr, nullptr)) {
        r.what = failure();
        take_reason(r, conversation);
    }
}

}  // namespace

void provision_port(station &st, std::size_t job, job_room &room, std::size_t index) {
    port_record &r = room.record;
    const std::string device = r.device;
    r = port_record{};
    r.device = device;
    r.started_ms = wall_clock_ms();
    const auto start = std::chrono::steady_clock::now();
    char partial[1024];
    std::FILE *log = open_transcript(st, job, partial, sizeof partial);
    bool kept_transcript = log != nullptr;
    if (!session_open(room.conversation, r.device.c_str(), st.opts.port, log,
                      st.opts.verbose ? stderr : nullptr, st.opts.program)) {
        r.what = failure();
        take_reason(r, room.conversation);
    } else {
        converse(st, room, index, r);
        session_close(room.conversation);
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (log != nullptr && std::fclose(log) != 0 && r.what == result::configured) {
        r.what = result::failed;
        fail(r.why, "the transcript could not be written");
    }
    kept_transcript = kept_transcript && r.what != result::skipped && r.what != result::passed_over;
    std::lock_guard<std::mutex> hold(st.lock);
    if (kept_transcript) name_transcript(st, partial, r);
    else if (log != nullptr) std::remove(partial);
    schedule_done(st.ports, index, r.what == result::configured || r.what == result::skipped);
    publish(st, r);
}

}  // namespace veld
