#include "station.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "provision_port.hpp"
#include "timestamp.hpp"
#include "watch.hpp"

namespace veld {

namespace {

constexpr long watch_interval_ms = 250;
constexpr long job_wait_ms = 100;  // a job looks at Ctrl-C this often while it waits
// After Ctrl-C, SIGTERM or SIGHUP, how long the terminal is given to take
// what is left, so that the run ends within a second of the signal.
constexpr long last_words_ms = 300;
// How long a sync of the report waits for the objects being written.
constexpr long sync_wait_ms = 50;

std::string counts_line(const station &st) {
    std::size_t waiting = 0;
    for (const port_entry &p : st.ports.ports) waiting += p.state == port_state::parked;
    char text[160];
    std::snprintf(text, sizeof text, "modules done %zu, running %zu, waiting %zu, failed %zu",
                  st.counts.modules.size(), st.ports.running, waiting, st.counts.failed);
    return text;
}

// Hands the writer the view's next frame where its rate allows; else the
// painter does, soon. Called with st.lock held.
void draw_if_due(station &st) {
    const long long now = steady_clock_ms();
    if (view_due(st.view, now)) write_frame(st.out, next_frame(st.view, counts_line(st), now));
}

// Draws the view while the station runs, as its rows change and its
// seconds go by, until stop.
void paint(station &st, const bool &stop) {
    std::unique_lock<std::mutex> hold(st.lock);
    while (!stop) {
        draw_if_due(st);
        hold.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(view_interval_ms / 2));
        hold.lock();
    }
}

// In a watch, a finished row stays until its module is pulled.
void forget_pulled(station &st) {
    for (auto row = st.view.rows.begin(); row != st.view.rows.end();) {
        if (row->second.state == row_state::finished && !st.ports.ports[row->first].present) {
            row = st.view.rows.erase(row);
            st.view.changed = true;
        } else {
            ++row;
        }
    }
}

// Records that could not be written: a report object, a transcript or a
// result line.
std::size_t records_lost(station &st) { return st.lost + writer_lost(st.out); }

// Ctrl-C, or a record that cannot be written: no port is opened any more.
void halt_if_asked(station &st) {
    if (port_interrupted() || records_lost(st) > 0) schedule_halt(st.ports);
}

// One job: takes queued ports until there will be none.
void job(station &st, job_room &room) {
    std::unique_lock<std::mutex> hold(st.lock);
    for (;;) {
        halt_if_asked(st);
        std::size_t index = 0;
        const next_step step = schedule_next(st.ports, steady_clock_ms(), index);
        if (step == next_step::stop) return;
        if (step == next_step::wait) {
            st.work.wait_for(hold, std::chrono::milliseconds(job_wait_ms));
            continue;
        }
        const std::string device = st.ports.ports[index].path;
        st.view.changed = true;
        hold.unlock();
        provision_port(st, room, index, device);
        hold.lock();
    }
}

// The parked ports to close now, closed without st.lock (their records
// reach the disk); taken with it.
void close_due(station &st, std::unique_lock<std::mutex> &hold) {
    const std::vector<std::size_t> closing = schedule_parked_to_close(st.ports);
    hold.unlock();
    for (std::size_t index : closing) close_parked(st, index);
    hold.lock();
}

// The ports the station has open or is about to open.
std::vector<std::string> held_ports(const station &st) {
    std::vector<std::string> held;
    for (const port_entry &p : st.ports.ports) {
        if (p.state == port_state::queued || p.state == port_state::busy || p.state == port_state::parked) {
            held.push_back(p.path);
        }
    }
    return held;
}

// A listing the system could not make: said once, and the last one stands,
// so that a failure never reads as every port gone. Called with st.lock held.
void keep_last_listing(station &st, bool listed, const reason &why) {
    if (!listed && !st.listing_failed) {
        write_message(st.out, std::string(st.opts.program) + ": the serial ports cannot be listed (" + why.text +
                                  "); the last listing stands\n");
    }
    st.listing_failed = !listed;
}

// Notices ports that appear and go, until Ctrl-C or a record lost.
void watch(station &st) {
    std::vector<std::string> held;
    std::vector<listed_port> listed;
    for (;;) {
        reason why;
        const bool listing = list_ports(st.opts.patterns, held, listed, why);
        {
            std::unique_lock<std::mutex> hold(st.lock);
            halt_if_asked(st);
            if (st.ports.halted) break;
            keep_last_listing(st, listing, why);
            if (listing) schedule_listing(st.ports, listed);
            held = held_ports(st);
            forget_pulled(st);
            close_due(st, hold);
        }
        st.work.notify_all();
        std::this_thread::sleep_for(std::chrono::milliseconds(watch_interval_ms));
    }
    std::lock_guard<std::mutex> hold(st.lock);
    schedule_stop(st.ports);
}

std::size_t job_count(const station_options &o) {
    const std::size_t jobs = o.jobs > 0 ? o.jobs : (o.watch ? max_jobs : o.device_count);
    return jobs > max_jobs ? max_jobs : jobs;
}

// "DEVICE (RESULT)", as a lost record names its port.
std::string owner_of(const port_record &r) {
    std::string text;
    write_field(string_sink(text), r.device.data(), r.device.size());
    return text.append(" (").append(result_name(r.what)).append(")");
}

// "WHAT lost DEVICE (RESULT): WHY" on standard error; the station halts.
// Called with st.lock held.
void lost(station &st, const char *what, const port_record &r, const char *why) {
    write_message(st.out, std::string(what) + " lost " + owner_of(r) + ": " + why + "\n");
    ++st.lost;
    schedule_halt(st.ports);
}

// A port that no job took, given up: interrupted (Ctrl-C, SIGTERM, a
// hang-up), or not opened because no job could start or the record cannot
// be written. In a watch, Ctrl-C is how the station stops: the port is
// passed over.
void give_up(station &st, const std::string &device) {
    port_record r{};
    r.device = device;
    r.started_ms = wall_clock_ms();
    if (st.opts.watch) {
        r.what = result::passed_over;
        fail(r.why, "not started");
    } else if (st.no_job) {
        r.what = result::failed;
        fail(r.why, "not started: no job could start");
    } else if (port_interrupted() || records_lost(st) == 0) {
        r.what = result::interrupted;
        fail(r.why, "not started");
    } else {
        r.what = result::failed;
        fail(r.why, "not started: the record cannot be written");
    }
    publish(st, r);
}

// The ports no job took, each given up with its record.
void give_up_the_rest(station &st) {
    std::vector<std::string> devices;
    {
        std::lock_guard<std::mutex> hold(st.lock);
        for (std::size_t index : schedule_given_up(st.ports)) devices.push_back(st.ports.ports[index].path);
    }
    for (const std::string &device : devices) give_up(st, device);
}

// The manifest's rows no module took, so that a module missing from the
// bench is seen.
void say_unmatched(station &st) {
    const std::vector<manifest_row> &rows = st.opts.rows.rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (st.matched[i]) continue;
        write_message(st.out, std::string(st.opts.program) + ": no module took the manifest's line " +
                                  std::to_string(rows[i].line) + " (" + rows[i].imei + ")\n");
    }
}

void put_verbose(void *context, const char *text, std::size_t len) {
    write_verbose(static_cast<station *>(context)->out, std::string(text, len));
}

// The object on the disk, numbered in the report (number); false with
// why. The write holds the report's own lock, the sync only the lock of
// those waiting for a sync, never st.lock: a slow disk holds up no port
// in conversation. One sync covers every object written before it began,
// so that ports finishing together wait for one or two syncs, not one
// each: a file's syncs take turns, and on some file systems (FUSE) hold
// its writes back while they last, so the objects waiting to be written
// go first.
bool write_report_object(station &st, const port_record &r, std::size_t &number, std::string &object, reason &why) {
    ++st.writers_waiting;  // before the lock, so that a sync waiting for it knows
    std::unique_lock<std::mutex> hold(st.report_lock);
    number = ++st.objects;
    format_report_object(r, st.opts.run, number, object);
    const bool appended = record_append(st.report, object.data(), object.size(), why);
    --st.writers_waiting;
    st.written.notify_all();
    hold.unlock();
    if (!appended) return false;
    std::lock_guard<std::mutex> syncing(st.sync_lock);
    if (st.synced >= number) return true;
    hold.lock();
    st.written.wait_for(hold, std::chrono::milliseconds(sync_wait_ms), [&st] { return st.writers_waiting == 0; });
    const std::size_t written = st.objects;
    hold.unlock();
    if (!record_sync(st.report, why)) return false;
    st.synced = written;
    return true;
}

// A result line handed to the writer in the order of its object in the
// report, whichever port's sync ended first. Called with st.lock held.
void write_in_order(station &st, std::size_t number, held_line line) {
    st.held.emplace(number, std::move(line));
    for (auto next = st.held.begin(); next != st.held.end() && next->first == st.lines_written + 1;
         next = st.held.erase(next)) {
        write_line(st.out, std::move(next->second.text), std::move(next->second.owner), next->second.kept);
        ++st.lines_written;
    }
}

// The results the ledger did not take, and the command that catches up.
void say_behind(station &st) {
    std::size_t behind = 0, claimed_behind = 0;
    if (ledger_on(st.plant)) count_behind(st.plant, behind, claimed_behind);
    if (behind == 0) return;
    std::string text = std::to_string(behind) + (behind == 1 ? " result is" : " results are") +
                       " in the report, not yet in the ledger; to catch up: veldconf-ledger sync ";
    write_field(string_sink(text), st.opts.report_file, std::strlen(st.opts.report_file));
    write_message(st.out, text + "\n");
}

// The jobs, started; their number (0: none could start, said).
std::size_t start_jobs(station &st, std::vector<std::thread> &workers, job_room rooms[], std::size_t jobs) {
    std::string refusal;
    for (std::size_t i = 0; i < jobs; ++i) {
        try {
            workers.emplace_back(job, std::ref(st), std::ref(rooms[i]));
        } catch (const std::system_error &error) {
            refusal = error.code().message();
            break;  // the jobs that started take every port
        }
    }
    if (workers.empty()) {
        write_message(st.out, std::string(st.opts.program) + ": cannot start a job: " + refusal + "\n");
        st.no_job = true;
    }
    return workers.size();
}

}  // namespace

text_sink verbose_sink(station &st) { return {put_verbose, &st}; }

void publish(station &st, const port_record &r) {
    if (r.what == result::passed_over) {
        if (!st.opts.verbose) return;
        std::string text = st.opts.program;
        text += ": passed over " + r.device + ": ";
        write_field(string_sink(text), r.why.text, std::strlen(r.why.text));
        write_verbose(st.out, text + "\n");
        return;
    }
    // The object is on the disk before the line says the port is done, and
    // before the ledger has the result.
    reason why;
    std::size_t number = 0;
    std::string object;
    const bool kept = st.reporting && write_report_object(st, r, number, object, why);
    reason behind;
    if (kept && ledger_on(st.plant) && !commit_result(st.plant, object, r.claimed, behind) && r.claimed) {
        std::string text = std::string(st.opts.program) + ": " + r.device + ": its result is in the report, not yet in the ledger: ";
        write_field(string_sink(text), behind.text, std::strlen(behind.text));
        write_message(st.out, text + "\n");
    }
    std::string line;
    format_result_line(r, line);
    std::lock_guard<std::mutex> hold(st.lock);
    if (st.reporting && !kept) lost(st, "the report", r, why.text);
    if (st.reporting) write_in_order(st, number, {line, owner_of(r), kept});
    else write_line(st.out, line, owner_of(r), false);
    if (r.transcript_lost) lost(st, "the transcript", r, r.transcript_fault.text);
    count_result(st.counts, r);
    if (st.opts.resume && r.what == result::configured) {
        char started[40];
        format_utc(r.started_ms, started, sizeof started);
        note_configured(st.opts.done, module_key(r.id.imei, r.id.imsi), *r.config, started, r.device);
    }
    st.view.changed = true;
    draw_if_due(st);
}

bool run_station(station &st) {
    st.matched.assign(st.opts.rows.rows.size(), false);
    st.out.program = st.opts.program;
    writer_start(st.out);
    if (st.opts.watch) schedule_watch(st.ports);
    else schedule_batch(st.ports, st.opts.devices, st.opts.device_count);
    const std::size_t jobs = job_count(st.opts);
    std::unique_ptr<job_room[]> rooms(new job_room[jobs]);
    if (ledger_on(st.plant)) start_heartbeat(st.plant, st.opts.run);
    std::vector<std::thread> workers;
    bool stop_painting = false;
    std::thread painter;
    if (start_jobs(st, workers, rooms.get(), jobs) > 0) {
        try {
            if (st.out.view_on) painter = std::thread(paint, std::ref(st), std::cref(stop_painting));
        } catch (const std::system_error &) {
            // the view is then drawn as results come
        }
        if (st.opts.watch) watch(st);
        st.work.notify_all();
        for (std::thread &worker : workers) worker.join();
    }
    if (painter.joinable()) {
        std::unique_lock<std::mutex> hold(st.lock);
        stop_painting = true;
        hold.unlock();
        painter.join();
    }
    {
        std::unique_lock<std::mutex> hold(st.lock);
        halt_if_asked(st);
        close_due(st, hold);
    }
    give_up_the_rest(st);
    if (ledger_on(st.plant)) stop_heartbeat(st.plant);
    if (!st.opts.watch) say_unmatched(st);
    if (!st.opts.quiet || st.counts.failed > 0 || st.counts.interrupted > 0 || st.no_job) {
        std::string summary;
        format_summary(st.counts, summary);
        write_message(st.out, summary);
    }
    say_behind(st);
    return writer_finish(st.out, last_words_ms);
}

int station_status(station &st) {
    if (records_lost(st) > 0) return 3;
    std::size_t behind = 0, claimed_behind = 0;
    if (ledger_on(st.plant)) count_behind(st.plant, behind, claimed_behind);
    if (claimed_behind > 0) return 4;
    return st.no_job || st.counts.failed > 0 || st.counts.interrupted > 0 ? 1 : 0;
}

}  // namespace veld
