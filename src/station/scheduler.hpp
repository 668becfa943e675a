// Which port the station takes next, and by which job: the ports known to
// the run, fed with events (a batch's ports, a look at the ports present,
// a job's start and end, a module's identity, a halt) and nothing else, so
// that it needs no port, no thread and no clock. A port queued is taken by
// the next free job, one job a device however many paths lead to it; a
// port that goes and comes back (or whose path now names another node) is
// a new port, taken again once a job it still has ends; a port whose
// module does not answer yet is parked (open, but holding no job) until
// its time to be probed again comes; a module (its IMEI and IMSI) is held
// by one port at a time, until all of its ports have gone. The entries of
// ports that are gone are reused, so a watch of any length is served.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace veld {

// What the station keeps of a port while it is open, across jobs; the
// scheduler only holds it.
struct port_work;

// A port a look found: its path, what tells its device from another (the
// device number), and the node the path names now (a link pointed
// elsewhere names another); each empty when nothing tells.
struct listed_port {
    std::string path;
    std::string device;
    std::string node;
};

// A port's life: queued for a job, busy (a job has it), parked (open,
// waiting for its module to answer, no job), done (until it goes), or
// free (an entry for the next new port).
enum class port_state { free, queued, busy, parked, done };

struct port_entry {
    std::string path;
    std::string device;
    std::string node;
    port_state state;
    bool present;  // listed at the last look (a batch's ports always are)
    bool back;     // went and came back while busy or parked: a new port once that ends
    long long wake_ms;  // when a parked port is probed again
    std::string module;  // the module behind it while held, or empty
    std::shared_ptr<port_work> work;  // while busy or parked
};

struct scheduler {
    std::vector<port_entry> ports;
    bool watching;  // more ports may come
    bool halted;    // no port is taken any more (Ctrl-C, a lost record)
    std::size_t running;  // ports busy
};

// A batch: each device queued once, in order; no more will come.
void schedule_batch(scheduler &s, char *const devices[], std::size_t count);

// A watch begins: ports come with each look until schedule_stop.
void schedule_watch(scheduler &s);

// One look at the ports present: a port listed that is new, or back after
// it had gone, or whose path names another node than before, is queued (a
// port back while its job runs, once that job ends); a path to a device
// another present port leads to is passed over; a port not listed has
// gone, and its entry is freed once no job has it.
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

// The module behind the port at index is known (module: its IMEI and
// IMSI); the index of another port present that holds it, or -1 (the port
// then holds it).
long schedule_module(scheduler &s, std::size_t index, const std::string &module);

// The port at index is done with, by its job or, parked, closed without
// one; kept: its module stays held (configured through it, or through
// another port). Its work is let go.
void schedule_done(scheduler &s, std::size_t index, bool kept);

// The ports queued that no job took.
std::vector<std::size_t> schedule_given_up(const scheduler &s);

}  // namespace veld
