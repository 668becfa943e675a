#include "station.hpp"

#include <chrono>
#include <memory>
#include <thread>

#include "provision_port.hpp"
#include "watch.hpp"

namespace veld {

namespace {

constexpr long watch_interval_ms = 250;
constexpr long job_wait_ms = 100;  // a job looks at Ctrl-C this often while it waits

void clear_status(station &st) {
    if (st.status_shown) std::fputs("\r\x1b[K", stderr);
    st.status_shown = false;
}

void show_status(station &st) {
    if (!st.opts.status_line || st.opts.quiet) return;
    std::fprintf(stderr, "\r\x1b[Kmodules done %zu, running %zu, failed %zu", st.counts.done,
                 st.ports.running, st.counts.failed);
    std::fflush(stderr);
    st.status_shown = true;
}

// One job: takes queued ports until there will be none.
void job(station &st, std::size_t number, job_room &room) {
    std::unique_lock<std::mutex> hold(st.lock);
    for (;;) {
        if (port_interrupted()) schedule_interrupt(st.ports);
        std::size_t index = 0;
        const next_step step = schedule_next(st.ports, index);
        if (step == next_step::stop) return;
        if (step == next_step::wait) {
            st.work.wait_for(hold, std::chrono::milliseconds(job_wait_ms));
            continue;
        }
        room.record.device = st.ports.ports[index].path;
        show_status(st);
        hold.unlock();
        provision_port(st, number, room, index);
        hold.lock();
    }
}

// Notices ports that appear and go, until Ctrl-C.
void watch(station &st) {
    while (!port_interrupted()) {
        const std::vector<std::string> listed = list_ports(st.opts.patterns);
        {
            std::lock_guard<std::mutex> hold(st.lock);
            schedule_listing(st.ports, listed);
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

}  // namespace

void publish(station &st, const port_record &r) {
    if (r.what == result::passed_over) {
        if (st.opts.verbose) {
            clear_status(st);
            std::fprintf(stderr, "%s: passed over %s: %s\n", st.opts.program, r.device.c_str(), r.why.text);
        }
        return;
    }
    clear_status(st);
    write_result_line(stdout, r);
    std::fflush(stdout);
    if (st.report != nullptr) {
        std::string object;
        format_report_object(r, object);
        std::fwrite(object.data(), 1, object.size(), st.report);
        std::fflush(st.report);  // what is done must survive a crash or a Ctrl-C
    }
    count_result(st.counts, r);
    show_status(st);
}

void run_station(station &st) {
    if (st.opts.watch) schedule_watch(st.ports);
    else schedule_batch(st.ports, st.opts.devices, st.opts.device_count);
    const std::size_t jobs = job_count(st.opts);
    std::unique_ptr<job_room[]> rooms(new job_room[jobs]);
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < jobs; ++i) workers.emplace_back(job, std::ref(st), i, std::ref(rooms[i]));
    if (st.opts.watch) watch(st);
    st.work.notify_all();
    for (std::thread &worker : workers) worker.join();
    clear_status(st);
    if (st.opts.quiet && st.counts.failed == 0 && st.counts.interruptions.empty()) return;
    write_summary(stderr, st.counts);
}

}  // namespace veld
