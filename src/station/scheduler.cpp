#include "scheduler.hpp"

namespace veld {

namespace {

void add_port(scheduler &s, const listed_port &port) {
    const port_entry entry{port.path, port.device, true, true, true, false, false, false, false, 0, {}};
    for (port_entry &p : s.ports) {
        if (!p.used && !p.busy && !p.parked) {
            p = entry;
            return;
        }
    }
    s.ports.push_back(entry);
}

port_entry *find_path(scheduler &s, const std::string &path) {
    for (port_entry &p : s.ports) {
        if (p.used && p.path == path) return &p;
    }
    return nullptr;
}

// Another present port that leads to the same device.
bool alias(const scheduler &s, const listed_port &port) {
    if (port.device.empty()) return false;
    for (const port_entry &p : s.ports) {
        if (p.used && p.present && p.device == port.device && p.path != port.path) return true;
    }
    return false;
}

void come_back(port_entry &p) {
    p.present = true;
    p.module.clear();  // a new port as far as we know
    if (p.busy || p.parked) {
        p.back = true;
    } else {
        p.queued = true;
        p.started = false;
    }
}

void go(port_entry &p) {
    p.present = false;
    p.queued = false;
    p.back = false;
    if (!p.busy && !p.parked) p.used = false;  // its module is forgotten with it
}

}  // namespace

void schedule_batch(scheduler &s, char *const devices[], std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) add_port(s, {devices[i], {}});
    s.watching = false;
}

void schedule_watch(scheduler &s) { s.watching = true; }

void schedule_listing(scheduler &s, const std::vector<listed_port> &listed) {
    // What went first, so that a path to a device left by another is taken.
    for (port_entry &p : s.ports) {
        bool listed_now = false;
        for (const listed_port &port : listed) listed_now = listed_now || port.path == p.path;
        if (p.used && p.present && !listed_now) go(p);
    }
    for (const listed_port &port : listed) {
        port_entry *p = find_path(s, port.path);
        if (p == nullptr && !alias(s, port)) add_port(s, port);
        else if (p != nullptr && !p->present) come_back(*p);
    }
}

void schedule_halt(scheduler &s) {
    s.halted = true;
    for (port_entry &p : s.ports) p.queued = false;
}

void schedule_stop(scheduler &s) { s.watching = false; }

next_step schedule_next(scheduler &s, long long now_ms, std::size_t &index) {
    if (s.halted) return next_step::stop;
    bool parked = false;
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        port_entry &p = s.ports[i];
        const bool woken = p.parked && p.present && p.wake_ms <= now_ms;
        parked = parked || p.parked;
        if (!p.queued && !woken) continue;
        p.queued = false;
        p.parked = false;
        p.busy = true;
        p.started = true;
        ++s.running;
        index = i;
        return next_step::take;
    }
    return s.watching || parked ? next_step::wait : next_step::stop;
}

void schedule_park(scheduler &s, std::size_t index, long long wake_ms) {
    port_entry &p = s.ports[index];
    p.busy = false;
    p.parked = true;
    p.wake_ms = wake_ms;
    --s.running;
}

std::vector<std::size_t> schedule_parked_to_close(const scheduler &s) {
    std::vector<std::size_t> closing;
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        const port_entry &p = s.ports[i];
        if (p.parked && (s.halted || !p.present)) closing.push_back(i);
    }
    return closing;
}

void schedule_unpark(scheduler &s, std::size_t index) {
    port_entry &p = s.ports[index];
    p.parked = false;
    p.module.clear();
    if (!p.present) {
        p.used = false;
    } else if (p.back) {  // gone and back while it was parked: a new port
        p.back = false;
        p.queued = !s.halted;
        p.started = false;
    }
}

long schedule_module(scheduler &s, std::size_t index, const std::string &module) {
    s.ports[index].module = module;
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        const port_entry &other = s.ports[i];
        if (i != index && other.used && other.present && other.module == module) return static_cast<long>(i);
    }
    return -1;
}

void schedule_done(scheduler &s, std::size_t index, bool kept) {
    port_entry &p = s.ports[index];
    // A module that was not configured may still be, through another port.
    if (!kept) p.module.clear();
    p.busy = false;
    --s.running;
    if (!p.present) {
        p.used = false;
    } else if (p.back) {
        p.back = false;
        p.module.clear();
        p.queued = !s.halted;
        p.started = false;
    }
}

std::vector<std::size_t> schedule_given_up(const scheduler &s) {
    std::vector<std::size_t> given_up;
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        const port_entry &p = s.ports[i];
        if (p.used && p.present && !p.started) given_up.push_back(i);
    }
    return given_up;
}

}  // namespace veld
