#include "scheduler.hpp"

namespace veld {

namespace {

bool open_now(const port_entry &p) { return p.state == port_state::busy || p.state == port_state::parked; }

void add_port(scheduler &s, const listed_port &port) {
    port_entry entry{port.path, port.device, port.node, port_state::queued, true, false, 0, {}, nullptr};
    for (port_entry &p : s.ports) {
        if (p.state == port_state::free) {
            p = std::move(entry);
            return;
        }
    }
    s.ports.push_back(std::move(entry));
}

port_entry *find_path(scheduler &s, const std::string &path) {
    for (port_entry &p : s.ports) {
        if (p.state != port_state::free && p.path == path) return &p;
    }
    return nullptr;
}

// Another present port that leads to the same device.
bool alias(const scheduler &s, const listed_port &port) {
    if (port.device.empty()) return false;
    for (const port_entry &p : s.ports) {
        if (p.state != port_state::free && p.present && p.device == port.device && p.path != port.path) return true;
    }
    return false;
}

// A new port at a known path: queued now, or once what has it ends.
void come_back(port_entry &p, const listed_port &port) {
    p.present = true;
    p.device = port.device;
    p.node = port.node;
    p.module.clear();  // a new port as far as we know
    if (open_now(p)) p.back = true;
    else p.state = port_state::queued;
}

void go(port_entry &p) {
    p.present = false;
    p.back = false;
    if (!open_now(p)) p.state = port_state::free;  // its module is forgotten with it
}

const listed_port *listing_of(const std::vector<listed_port> &listed, const std::string &path) {
    for (const listed_port &port : listed) {
        if (port.path == path) return &port;
    }
    return nullptr;
}

}  // namespace

void schedule_batch(scheduler &s, char *const devices[], std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) add_port(s, {devices[i], {}, {}});
    s.watching = false;
}

void schedule_watch(scheduler &s) { s.watching = true; }

void schedule_listing(scheduler &s, const std::vector<listed_port> &listed) {
    // What went first, so that a path to a device left by another is taken.
    for (port_entry &p : s.ports) {
        if (p.state == port_state::free || !p.present) continue;
        const listed_port *now = listing_of(listed, p.path);
        if (now == nullptr) {
            go(p);
        } else if (now->node != p.node) {  // pointed at another node between two looks
            go(p);
            if (p.state != port_state::free) come_back(p, *now);
        }
    }
    for (const listed_port &port : listed) {
        port_entry *p = find_path(s, port.path);
        if (p == nullptr && !alias(s, port)) add_port(s, port);
        else if (p != nullptr && !p->present) come_back(*p, port);
    }
}

void schedule_halt(scheduler &s) { s.halted = true; }

void schedule_stop(scheduler &s) { s.watching = false; }

next_step schedule_next(scheduler &s, long long now_ms, std::size_t &index) {
    if (s.halted) return next_step::stop;
    bool parked = false;
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        port_entry &p = s.ports[i];
        const bool woken = p.state == port_state::parked && p.present && p.wake_ms <= now_ms;
        parked = parked || p.state == port_state::parked;
        if (p.state != port_state::queued && !woken) continue;
        p.state = port_state::busy;
        ++s.running;
        index = i;
        return next_step::take;
    }
    return s.watching || parked ? next_step::wait : next_step::stop;
}

void schedule_park(scheduler &s, std::size_t index, long long wake_ms) {
    port_entry &p = s.ports[index];
    p.state = port_state::parked;
    p.wake_ms = wake_ms;
    --s.running;
}

std::vector<std::size_t> schedule_parked_to_close(const scheduler &s) {
    std::vector<std::size_t> closing;
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        const port_entry &p = s.ports[i];
        if (p.state == port_state::parked && (s.halted || !p.present)) closing.push_back(i);
    }
    return closing;
}

long schedule_module(scheduler &s, std::size_t index, const std::string &module) {
    s.ports[index].module = module;
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        const port_entry &other = s.ports[i];
        if (i != index && other.state != port_state::free && other.present && other.module == module) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

void schedule_done(scheduler &s, std::size_t index, bool kept) {
    port_entry &p = s.ports[index];
    if (p.state == port_state::busy) --s.running;
    p.work.reset();
    // A module that was not configured may still be, through another port.
    if (!kept || p.back) p.module.clear();
    if (!p.present) {
        p.state = port_state::free;
    } else if (p.back) {  // gone and back meanwhile: a new port
        p.back = false;
        p.state = port_state::queued;
    } else {
        p.state = port_state::done;
    }
}

std::vector<std::size_t> schedule_given_up(const scheduler &s) {
    std::vector<std::size_t> given_up;
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        const port_entry &p = s.ports[i];
        if (p.state == port_state::queued && p.present) given_up.push_back(i);
    }
    return given_up;
}

}  // namespace veld
