#include "scheduler.hpp"

#include <cstdio>
#include <cstring>

namespace veld {

namespace {

port_entry &add_port(scheduler &s, const std::string &path) {
    s.ports.push_back(port_entry{path, true, true, false, {}});
    return s.ports.back();
}

}  // namespace

void schedule_batch(scheduler &s, char *const devices[], std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) add_port(s, devices[i]);
    s.watching = false;
}

void schedule_watch(scheduler &s) { s.watching = true; }

void schedule_listing(scheduler &s, const std::vector<std::string> &listed) {
    std::vector<bool> seen(s.ports.size(), false);
    for (const std::string &path : listed) {
        std::size_t i = 0;
        while (i < s.ports.size() && s.ports[i].path != path) ++i;
        if (i == s.ports.size()) {
            add_port(s, path);
            seen.push_back(true);
            continue;
        }
        seen[i] = true;
        port_entry &p = s.ports[i];
        if (!p.present) {  // back again: a new port as far as we know
            p.present = true;
            p.queued = true;
            p.imei[0] = '\0';
        }
    }
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        port_entry &p = s.ports[i];
        if (seen[i] || !p.present) continue;
        p.present = false;  // its module is forgotten once all its ports are gone
        p.queued = false;
        if (!p.busy) p.imei[0] = '\0';
    }
}

void schedule_interrupt(scheduler &s) { s.interrupted = true; }

void schedule_stop(scheduler &s) { s.watching = false; }

next_step schedule_next(scheduler &s, std::size_t &index) {
    if (s.interrupted) return next_step::stop;
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        port_entry &p = s.ports[i];
        if (!p.queued) continue;
        p.queued = false;
        p.busy = true;
        ++s.running;
        index = i;
        return next_step::take;
    }
    return s.watching ? next_step::wait : next_step::stop;
}

long schedule_module(scheduler &s, std::size_t index, const char *imei) {
    port_entry &mine = s.ports[index];
    std::snprintf(mine.imei, sizeof mine.imei, "%s", imei);
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        const port_entry &other = s.ports[i];
        if (i != index && other.present && std::strcmp(other.imei, imei) == 0) return static_cast<long>(i);
    }
    return -1;
}

void schedule_done(scheduler &s, std::size_t index, bool kept) {
    port_entry &p = s.ports[index];
    // A module that was not configured may still be, through another port.
    if (!kept) p.imei[0] = '\0';
    p.busy = false;
    --s.running;
}

}  // namespace veld
