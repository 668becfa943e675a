// Which port the station takes next, and by which job: the ports known to
// the run, fed with events (a batch's ports, a look at the ports present,
// a job's start and end, a module's identity, Ctrl-C) and nothing else,
// so that it needs no port, no thread and no clock. A port queued is
// taken by the next free job; a port that goes and comes back is a new
// port; a module is held by one port at a time, until all of its ports
// have gone.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "session.hpp"

namespace veld {

struct port_entry {
    std::string path;
    bool present;  // listed at the last look (a batch's ports always are)
    bool queued;
    bool busy;                  // a job has it
    char imei[imei_digits + 1];  // the module behind it while held, or empty
};

struct scheduler {
    std::vector<port_entry> ports;
    bool watching;  // more ports may come
    bool interrupted;
    std::size_t running;
};

// A batch: each device queued once, in order; no more will come.
void schedule_batch(scheduler &s, char *const devices[], std::size_t count);

// A watch begins: ports come with each look until schedule_stop.
void schedule_watch(scheduler &s);

// One look at the ports present: a port listed that is new, or back after
// it had gone, is queued; one not listed has gone (and its module, unless
// a job still holds it, is forgotten).
void schedule_listing(scheduler &s, const std::vector<std::string> &listed);

// Ctrl-C: no port is taken any more.
void schedule_interrupt(scheduler &s);

// The watch is over: the jobs end once the ports queued are done.
void schedule_stop(scheduler &s);

enum class next_step { take, wait, stop };

// For a free job: take the port at index (now busy), wait for a look or a
// job's end, or stop.
next_step schedule_next(scheduler &s, std::size_t &index);

// The module behind the port at index has this IMEI; the index of another
// port present that holds the same module, or -1 (the port then holds it).
long schedule_module(scheduler &s, std::size_t index, const char *imei);

// The job on the port at index has ended; kept: its module stays held
// (configured through it, or through another port).
void schedule_done(scheduler &s, std::size_t index, bool kept);

}  // namespace veld
