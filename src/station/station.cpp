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

std::string counts_line(const station &st) {
    char text[128];
    std::snprintf(text, sizeof text, "modules done %zu, running %zu, failed %zu", st.counts.modules.size(), st.ports.running,
                  st.counts.failed);
    return text;
}

void draw_if_due(station &st) {
    const long long now = steady_clock_ms();
    if (view_due(st.view, now)) draw_view(st.view, counts_line(st), now);
}

// Draws the view now where its rate allows, else soon, by the painter.
void show_view(station &st) {
    st.view.changed = true;
    draw_if_due(st);
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

// Ctrl-C, or a record that cannot be written: no port is opened any more.
void halt_if_asked(station &st) {
    if (port_interrupted() || st.lost > 0) schedule_halt(st.ports);
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

// Notices ports that appear and go, until Ctrl-C or a record lost.
void watch(station &st) {
    for (;;) {
        const std::vector<listed_port> listed = list_ports(st.opts.patterns);
        {
            std::lock_guard<std::mutex> hold(st.lock);
            halt_if_asked(st);
            if (st.ports.halted) break;
            schedule_listing(st.ports, listed);
            forget_pulled(st);
            for (std::size_t index : schedule_parked_to_close(st.ports)) close_parked(st, index);
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

// "WHAT lost DEVICE (RESULT): WHY" on standard error; the station halts.
void lost(station &st, const char *what, const port_record &r, const char *why) {
    std::string text = what;
    text += " lost ";
    write_field(string_sink(text), r.device.data(), r.device.size());
    text.append(" (").append(result_name(r.what)).append("): ").append(why).append("\n");
    say(st, text.data(), text.size());
    ++st.lost;
    schedule_halt(st.ports);
}

bool write_stdout(const std::string &text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
    if (!written) std::clearerr(stdout);  // the next line is tried on its own
    return written;
}

// A port that no job took, given up: interrupted (Ctrl-C, SIGTERM, a
// hang-up), or not opened because the record cannot be written. In a
// watch, Ctrl-C is how the station stops: the port is passed over.
void give_up(station &st, std::size_t index) {
    port_record r{};
    r.device = st.ports.ports[index].path;
    r.started_ms = wall_clock_ms();
    if (st.opts.watch) {
        r.what = result::passed_over;
        fail(r.why, "not started");
    } else if (st.no_job) {
        r.what = result::failed;
        fail(r.why, "not started: no job could start");
    } else if (port_interrupted() || st.lost == 0) {
        r.what = result::interrupted;
        fail(r.why, "not started");
    } else {
        r.what = result::failed;
        fail(r.why, "not started: the record cannot be written");
    }
    publish(st, r);
}

// The manifest's rows no module took, so that a module missing from the
// bench is seen.
void say_unmatched(station &st) {
    const std::vector<manifest_row> &rows = st.opts.rows.rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (st.matched[i]) continue;
        std::fprintf(stderr, "%s: no module took the manifest's line %ld (%s)\n", st.opts.program, rows[i].line,
                     rows[i].imei.c_str());
    }
}

void put_verbose(void *context, const char *text, std::size_t len) {
    station &st = *static_cast<station *>(context);
    std::lock_guard<std::mutex> hold(st.lock);
    say(st, text, len);
}

}  // namespace

void say(station &st, const char *text, std::size_t len) {
    clear_view(st.view);
    std::fwrite(text, 1, len, stderr);
    show_view(st);
}

text_sink verbose_sink(station &st) { return {put_verbose, &st}; }

void publish(station &st, const port_record &r) {
    if (r.what == result::passed_over) {
        if (!st.opts.verbose) return;
        std::string text = st.opts.program;
        text += ": passed over " + r.device + ": ";
        write_field(string_sink(text), r.why.text, std::strlen(r.why.text));
        text += '\n';
        say(st, text.data(), text.size());
        return;
    }
    if (st.view.shares_stdout) clear_view(st.view);
    // The object is on the disk before the line says the port is done.
    reason why;
    bool kept = false;  // in the report
    if (st.reporting) {
        std::string object;
        format_report_object(r, st.opts.run, ++st.objects, object);
        kept = record_append(st.report, object.data(), object.size(), why);
        if (!kept) lost(st, "the report", r, why.text);
    }
    std::string line;
    format_result_line(r, line);
    // Once the terminal has hung up, its lines are gone with it; the
    // report, where there is one, is the record.
    if (!write_stdout(line) && !(kept && port_hung_up())) {
        lost(st, "standard output", r, std::strerror(errno != 0 ? errno : EIO));
    }
    if (r.transcript_lost) lost(st, "the transcript", r, r.transcript_fault.text);
    count_result(st.counts, r);
    if (st.opts.resume && r.what == result::configured) {
        char started[40];
        format_utc(r.started_ms, started, sizeof started);
        note_configured(st.opts.done, module_key(r.id.imei, r.id.imsi), *r.config, started, r.device);
    }
    show_view(st);
}

void run_station(station &st) {
    st.matched.assign(st.opts.rows.rows.size(), false);
    if (st.opts.watch) schedule_watch(st.ports);
    else schedule_batch(st.ports, st.opts.devices, st.opts.device_count);
    const std::size_t jobs = job_count(st.opts);
    std::unique_ptr<job_room[]> rooms(new job_room[jobs]);
    std::vector<std::thread> workers;
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
        std::fprintf(stderr, "%s: cannot start a job: %s\n", st.opts.program, refusal.c_str());
        std::lock_guard<std::mutex> hold(st.lock);
        st.no_job = true;
        for (std::size_t index : schedule_given_up(st.ports)) give_up(st, index);
        write_summary(stderr, st.counts);
        return;
    }
    bool stop_painting = false;
    std::thread painter;
    try {
        if (st.view.on) painter = std::thread(paint, std::ref(st), std::cref(stop_painting));
    } catch (const std::system_error &) {
        // the view is then drawn as results come
    }
    if (st.opts.watch) watch(st);
    st.work.notify_all();
    for (std::thread &worker : workers) worker.join();
    if (painter.joinable()) {
        std::unique_lock<std::mutex> hold(st.lock);
        stop_painting = true;
        hold.unlock();
        painter.join();
    }
    std::lock_guard<std::mutex> hold(st.lock);
    halt_if_asked(st);
    for (std::size_t index : schedule_parked_to_close(st.ports)) close_parked(st, index);
    for (std::size_t index : schedule_given_up(st.ports)) give_up(st, index);
    clear_view(st.view);
    if (!st.opts.watch) say_unmatched(st);
    if (st.opts.quiet && st.counts.failed == 0 && st.counts.interrupted == 0) return;
    write_summary(stderr, st.counts);
}

int station_status(const station &st) {
    if (st.lost > 0) return 3;
    return st.no_job || st.counts.failed > 0 || st.counts.interrupted > 0 ? 1 : 0;
}

}  // namespace veld
