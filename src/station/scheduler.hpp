// Which port the station takes next, and by which job: the ports known to
// the run, fed with events (a batch's ports, a look at the ports present,
// a job's start and end, a module's identity, a halt) and nothing else, so
// that it needs no port, no thread and no clock. A port queued is taken by
// the next free job, one job a device however many paths lead to it; a
// port that goes and comes back is a new port, taken again once a job it
// still has ends; a port whose module does not answer yet is parked (open,
// but holding no job) until its time to be probed again comes; a module (its IMEI and IMSI) is held by one port at a
// time, until all of its ports have gone. The entries of ports that are
// gone are reused, so a watch of any length is served.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace veld {

// A port a look found: its path, and what tells its device from another
// (the device number), or empty when nothing does.
struct listed_port {
    std::string path;
    std::string device;
};

struct port_entry {
    std::string path;
    std::string device;
    bool used;     // false: a free entry, for the next new port
    bool present;  // listed at the last look (a batch's ports always are)
    bool queued;
    bool busy;     // a job has it
    bool back;     // went and came back while its job ran
    bool started;  // a job has taken it
    bool parked;   // waiting, open, for its module to answer
    long long wake_ms;  // when a parked port is probed again
    std::string module;  // the module behind it while held, or empty
};

struct scheduler {
    std::vector<port_entry> ports;
    bool watching;  // more ports may come
    bool halted;    // no port is taken any more (Ctrl-C, a lost record)
    std::size_t running;
};

// A batch: each device queued once, in order; no more will come.
void schedule_batch(scheduler &s, char *const devices[], std::size_t count);

// A watch begins: ports come with each look until schedule_stop.
void schedule_watch(scheduler &s);

// One look at the ports present: a port listed that is new, or back after
// it had gone, is queued (a port back while its job runs, once that job
// ends); a path to a device another present port leads to is passed over;
// a port not listed has gone, and its entry is freed once no job has it.
void schedule_listing(scheduler &s, const std::vector<listed_port> &listed);

// No port is taken any more; those queued are given up.
void schedule_halt(scheduler &s);

// The watch is over: the jobs end once the ports queued are done.
void schedule_stop(scheduler &s);

enum class next_step { take, wait, stop };

// For a free job at now_ms: take the port at index (now busy: a port
// queued, or a parked one whose time has come), wait for a look, a job's
// end or a parked port's time, or stop.
next_step schedule_next(scheduler &s, long long now_ms, std::size_t &index);

// The job on the port at index leaves it parked, to be taken again at
// wake_ms.
void schedule_park(scheduler &s, std::size_t index, long long wake_ms);

// The parked ports that are to be closed: gone (in a watch), or all of
// them once the scheduler is halted.
std::vector<std::size_t> schedule_parked_to_close(const scheduler &s);

// The parked port at index was closed without a job; its entry is freed
// when its port has gone.
void schedule_unpark(scheduler &s, std::size_t index);

// The module behind the port at index is known (module: its IMEI and
// IMSI); the index of another port present that holds it, or -1 (the port
// then holds it).
long schedule_module(scheduler &s, std::size_t index, const std::string &module);

// The job on the port at index has ended; kept: its module stays held
// (configured through it, or through another port).
void schedule_done(scheduler &s, std::size_t index, bool kept);

// The ports no job took (in a watch, those queued).
std::vector<std::size_t> schedule_given_up(const scheduler &s);

}  // namespace veld
