#include "provision_port.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "configuration.hpp"
#include "names.hpp"
#include "record_file.hpp"
#include "timestamp.hpp"
#include "transcript_file.hpp"
#include "watch.hpp"

namespace veld {

namespace {

const char *base_name(const char *path) {
    const char *base = path;
    for (const char *at = path; *at != '\0'; ++at) {
        if (*at == '/' || *at == '\\') base = at + 1;
    }
    return base;
}

// IMEI.log, IMEI.2.log, ...: the first that is free, taken without
// replacing a file another station made meanwhile.
bool name_transcript(const station &st, const std::string &partial, port_record &r, reason &why) {
    const std::string stem = std::string(st.opts.log_dir) + "/" + (r.imei_known ? r.id.imei : base_name(r.device.c_str()));
    std::string path = stem + ".log";
    for (int n = 2;; ++n) {
        bool exists = false;
        if (take_name(partial.c_str(), path.c_str(), exists, why)) {
            r.transcript = base_name(path.c_str());
            return true;
        }
        if (!exists) return false;
        path = stem + "." + std::to_string(n) + ".log";
    }
}

// Builds the module's configuration, as veldconf would for its name, and
// checks its lines with the reader's checks; false with the reason.
// A module the lot's manifest did not list when the run began, looked up
// once more in the ledger, for rows added during the shift.
bool look_up_again(station &st, port_record &r, tool_settings &settings, char *name) {
    std::vector<manifest_entry> entries;
    reason why;
    {
        std::lock_guard<std::mutex> hold(st.plant.lock);
        if (!st.plant.ops.read_manifest(st.plant.ops.context, st.plant.lot, entries, why)) {
            return fail(r.why, "not in the manifest, and the ledger cannot be reached: %s", why.text);
        }
    }
    manifest now;
    long row = -1;
    if (!manifest_from_ledger(entries, st.opts.tool, now, why)) return fail(r.why, "the lot's manifest: %s", why.text);
    return module_settings(st.opts, now, r.id, settings, name, row, r.why);
}

bool build_configuration(station &st, job_room &room, port_record &r) {
    tool_settings settings{};
    long row = -1;
    bool made = module_settings(st.opts, st.opts.rows, r.id, settings, room.name, row, r.why);
    if (row >= 0) {
        std::lock_guard<std::mutex> hold(st.lock);
        st.matched[static_cast<std::size_t>(row)] = true;
    }
    const bool unlisted = !made && row < 0 && st.opts.manifest_file != nullptr && find_row(st.opts.rows, r.id.imei) < 0;
    if (unlisted && ledger_on(st.plant) && st.plant.manifest_in_ledger) {
        made = look_up_again(st, r, settings, room.name);
    }
    if (!made) return false;
    r.endpoint = room.name;
    r.endpoint_len = settings.config.ep_name_len;
    room.port_fixed = settings.port_given;
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

std::string module_of(const identity &id) { return module_key(id.imei, id.imsi); }

// Whether the module is this port's to configure: held by no other port.
// Takes st.lock.
bool claim_module(station &st, std::size_t index, port_record &r) {
    std::lock_guard<std::mutex> hold(st.lock);
    const long other = schedule_module(st.ports, index, module_of(r.id));
    if (other < 0) return true;
    r.what = result::skipped;
    return fail(r.why, "same module as %s", st.ports.ports[static_cast<std::size_t>(other)].path.c_str());
}

// Whether the name made for the module is its own: given to no other
// module in this run. Takes st.lock.
bool claim_name(station &st, const job_room &room, port_record &r) {
    std::lock_guard<std::mutex> hold(st.lock);
    if (give_name(st.names, std::string(room.name, r.endpoint_len), module_of(r.id), r.device, r.why)) return true;
    r.what = result::failed;
    r.config = nullptr;  // nothing of it is sent
    return false;
}

// What the lines' progress goes to: the live view's row.
struct sending {
    station *st;
    std::size_t index;
    bool begun;
};

void note_line(const void *context, std::size_t acknowledged, std::size_t total) {
    sending &s = *static_cast<sending *>(const_cast<void *>(context));
    s.begun = true;
    if (!s.st->view.on) return;
    std::lock_guard<std::mutex> hold(s.st->lock);
    view_row *row = change_row(s.st->view, s.index);
    row->state = row_state::sending;
    row->acknowledged = acknowledged;
    row->total = total;
}

// The port's row, as it is opened, parked or taken again.
void show_row(station &st, std::size_t index, const port_work &work, row_state state) {
    view_row *row = change_row(st.view, index);
    if (row == nullptr) return;
    const port_record &r = work.record;
    row->slot = r.slot;
    row->device = r.device;
    row->imei.clear();
    row->state = state;
    row->opened_ms = work.opened_ms;
}

// A conversation that ended early ended so because of Ctrl-C, or failed.
// In a watch, Ctrl-C is how the station stops: a module that has had no
// line of its configuration is passed over.
result failure(const station &st, bool lines_begun) {
    if (!port_interrupted()) return result::failed;
    return st.opts.watch && !lines_begun ? result::passed_over : result::interrupted;
}

void take_reason(port_record &r, const session &conversation) { r.why = conversation.why; }

// After the probe, on a port whose module answered: the identity, the
// configuration, the lines.
void configure(station &st, job_room &room, std::size_t index, port_work &work) {
    port_record &r = work.record;
    session &conversation = work.conversation;
    if (!session_identity(conversation, r.id)) {
        r.what = failure(st, false);
        take_reason(r, conversation);
    }
    r.imei_known = r.id.imei[0] != '\0';
    r.imsi_known = r.id.imsi[0] != '\0';
    if (r.imei_known && st.view.on) {
        std::lock_guard<std::mutex> hold(st.lock);
        change_row(st.view, index)->imei = r.id.imei;
    }
    if (r.what != result::configured || !claim_module(st, index, r)) return;
    if (!build_configuration(st, room, r)) {
        r.what = result::failed;
        return;
    }
    std::unique_lock<std::mutex> hold(st.lock);  // a watch adds what it configures to st.opts.done
    if (st.opts.resume && configured_before(st.opts.done, module_of(r.id), room.config, room.port_fixed, r.why)) {
        r.what = result::skipped;
        r.before = true;
        r.config = nullptr;  // nothing is sent
        reason taken;  // the name stays the module's, where no other has it
        give_name(st.names, std::string(room.name, r.endpoint_len), module_of(r.id), r.device, taken);
        return;
    }
    hold.unlock();
    if (!claim_name(st, room, r)) return;
    if (ledger_on(st.plant) && !claim_in_ledger(st.plant, st.opts.run, room.config, room.port_fixed, r)) {
        r.config = nullptr;  // nothing is sent
        return;
    }
    sending progress{&st, index, false};
    if (!session_send(conversation, room.lines, r.acknowledged, note_line, &progress)) {
        r.what = failure(st, progress.begun);
        take_reason(r, conversation);
    }
}

// In a watch, a path that is no serial port (a file, a link to nothing)
// or that went before it was opened is no module.
bool no_module_there(const station &st, const session &conversation) {
    const port_fault fault = conversation.port.fault;
    return st.opts.watch && (fault == port_fault::gone || fault == port_fault::not_a_port);
}

// The port opened, with its transcript; false when it cannot be had (the
// record then says why).
bool open_port(station &st, port_work &work) {
    port_record &r = work.record;
    if (st.opts.log_dir != nullptr) {
        std::size_t number = 0;
        {
            std::lock_guard<std::mutex> hold(st.lock);
            number = ++st.opened;
        }
        work.partial = working_name(st.opts.log_dir, number);
        work.log = std::fopen(work.partial.c_str(), "wb");
        if (work.log == nullptr) {
            r.transcript_lost = true;
            fail(r.transcript_fault, "%s", std::strerror(errno));
        }
    }
    const text_sink verbose = st.opts.verbose ? verbose_sink(st) : text_sink{};
    work.conversation.d.log_error = 0;
    work.opened_ms = steady_clock_ms();
    if (session_open(work.conversation, r.device.c_str(), st.opts.port, work.log, verbose, st.opts.program)) {
        return true;
    }
    r.what = no_module_there(st, work.conversation) ? result::passed_over : failure(st, false);
    // In a watch, a port another program holds (another station) is not
    // this station's to fail: passed over until it goes and comes back.
    r.in_use = st.opts.watch && work.conversation.port.fault == port_fault::in_use;
    if (r.in_use) r.what = result::passed_over;
    take_reason(r, work.conversation);
    return false;
}

// The module said nothing to the probe: in a batch a failure, in a watch
// a port passed over until it goes and comes back, unless it is in a
// fixture's slot, where a module that never answers is a failure to see.
void no_answer(station &st, port_work &work) {
    port_record &r = work.record;
    take_reason(r, work.conversation);
    if (st.opts.watch && st.opts.slots_file != nullptr && !port_interrupted()) {
        r.what = result::failed;
        fail(r.why, "no answer within %g s", static_cast<double>(st.opts.boot_wait_ms) / 1000.0);
    } else {
        r.what = st.opts.watch ? result::passed_over : failure(st, false);
    }
}

// Closes the port and its transcript, and publishes the record; the
// port's row then shows how it ended. Called without st.lock.
void finish(station &st, std::size_t index, port_work &work) {
    port_record &r = work.record;
    session_close(work.conversation);
    r.seconds = static_cast<double>(steady_clock_ms() - work.opened_ms) / 1000.0;
    const bool kept = r.what != result::skipped && r.what != result::passed_over;
    if (work.log != nullptr) {
        const int write_error = work.conversation.d.log_error;
        const bool closed = std::fclose(work.log) == 0;
        work.log = nullptr;
        if (kept && (write_error != 0 || !closed)) {
            r.transcript_lost = true;
            fail(r.transcript_fault, "%s", std::strerror(write_error != 0 ? write_error : errno));
        } else if (kept && !name_transcript(st, work.partial, r, r.transcript_fault)) {
            r.transcript_lost = true;
        }
        if (!kept || r.transcript_lost) std::remove(work.partial.c_str());  // nothing half-written is left
    }
    publish(st, r);
    std::lock_guard<std::mutex> hold(st.lock);
    end_row(st.view, index, r, st.opts.watch);
}

// A new port's work: its record begun; null when its slot keeps it out.
std::shared_ptr<port_work> begin_port(station &st, std::size_t index, const std::string &device) {
    std::shared_ptr<port_work> work = std::make_shared<port_work>();
    port_record &r = work->record;
    r.device = device;
    bool listed = false;
    r.slot = slot_of(st.opts.slots, device.c_str(), usb_path(device.c_str()), listed);
    r.started_ms = wall_clock_ms();
    if (st.opts.slots_file == nullptr || listed) return work;
    r.what = result::passed_over;  // a batch's ports were checked before
    fail(r.why, "not in a slot of %s", st.opts.slots_file);
    {
        std::lock_guard<std::mutex> hold(st.lock);
        schedule_done(st.ports, index, false);
    }
    publish(st, r);
    return nullptr;
}

// The port's work: a parked port's, taken again, or a new port's, opened;
// null when there is none to do (its record then published).
std::shared_ptr<port_work> take_port(station &st, std::size_t index, const std::string &device) {
    {
        std::lock_guard<std::mutex> hold(st.lock);
        const std::shared_ptr<port_work> parked = st.ports.ports[index].work;
        if (parked != nullptr) {
            show_row(st, index, *parked, row_state::probing);
            return parked;
        }
    }
    std::shared_ptr<port_work> work = begin_port(st, index, device);
    if (work == nullptr) return nullptr;
    if (!open_port(st, *work)) {
        finish(st, index, *work);
        std::lock_guard<std::mutex> hold(st.lock);
        schedule_done(st.ports, index, false);
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(st.lock);
    st.ports.ports[index].work = work;
    show_row(st, index, *work, row_state::probing);
    return work;
}

}  // namespace

void provision_port(station &st, job_room &room, std::size_t index, const std::string &device) {
    const std::shared_ptr<port_work> work = take_port(st, index, device);
    if (work == nullptr) return;
    bool silent = false;
    if (session_wake(work->conversation, st.opts.probe_timeout_ms, silent)) {
        configure(st, room, index, *work);
    } else if (silent && !port_interrupted() && steady_clock_ms() - work->opened_ms < st.opts.boot_wait_ms) {
        // Still booting, or a port that never answers: it holds no job meanwhile.
        std::lock_guard<std::mutex> hold(st.lock);
        schedule_park(st.ports, index, steady_clock_ms() + reprobe_ms);
        show_row(st, index, *work, row_state::waiting);
        return;
    } else if (silent) {
        no_answer(st, *work);
    } else {
        work->record.what = failure(st, false);
        take_reason(work->record, work->conversation);
    }
    port_record &r = work->record;
    finish(st, index, *work);
    std::lock_guard<std::mutex> hold(st.lock);
    schedule_done(st.ports, index, r.what == result::configured || r.what == result::skipped);
}

void close_parked(station &st, std::size_t index) {
    std::shared_ptr<port_work> work;
    bool gone = false;
    {
        std::lock_guard<std::mutex> hold(st.lock);
        work = st.ports.ports[index].work;
        gone = !st.ports.ports[index].present;
    }
    if (work == nullptr) return;
    port_record &r = work->record;
    if (gone || st.opts.watch) {
        r.what = result::passed_over;
        fail(r.why, gone ? "gone before its module answered" : "no answer from %s", r.device.c_str());
    } else {
        r.what = failure(st, false);
        fail(r.why, port_interrupted() ? "interrupted while waiting for an answer from %s" : "no answer from %s",
             r.device.c_str());
    }
    finish(st, index, *work);
    std::lock_guard<std::mutex> hold(st.lock);
    schedule_done(st.ports, index, false);
}

}  // namespace veld
