// The station's scheduler, fed events as scripts: no ports, no threads,
// no sleeping. Each step is an event and, where the scheduler answers, the
// answer it must give.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "scheduler.hpp"

namespace {

struct scheduler_case {
    const char *name;
    std::vector<const char *> steps;
};

// batch P...       a batch of these ports
// watch            a watch begins
// list P[=D][@N]... one look at the ports present (D: the device P leads
//                  to, N: the node the path names)
// next[@T] P|wait|stop  a free job asks (at T ms, else 0); the port it
//                  takes, or what it does
// park P T         the job on P leaves it parked until T
// to-close P...    the parked ports to be closed
// module P M -|Q   the module behind P is M (IMEI;IMSI): no other port
//                  holds it, or Q does
// done P kept|dropped  the job on P ends, or P parked is closed, its module
//                  held or not
// state P S        P is in state S (queued, busy, parked, done, free)
// halt, stop       no port is taken any more; the watch is over
// given-up P...    the batch's ports no job took
// churn N          N ports appear and go, one after the other
// entries N        the scheduler keeps at most N entries
const scheduler_case scheduler_cases[] = {
    {"a batch is taken in order, then the jobs stop",
     {"batch A B", "next A", "next B", "next stop"}},
    {"in a watch a free job waits for a port",
     {"watch", "next wait", "list A", "next A", "next wait"}},
    {"a port listed twice in one look is one port",
     {"watch", "list A A", "next A", "next wait"}},
    {"a port that stays is taken once",
     {"watch", "list A", "next A", "done A kept", "list A", "next wait"}},
    {"a port that goes and comes back is a new port",
     {"watch", "list A", "next A", "done A kept", "list", "list A", "next A"}},
    {"a second port of a module held is told the first",
     {"batch A B", "next A", "module A 111;9 -", "next B", "module B 111;9 A"}},
    {"one IMEI with two SIMs is two modules",
     {"batch A B", "next A", "module A 111;1 -", "next B", "module B 111;2 -"}},
    {"a module not configured may be through another port",
     {"batch A B", "next A", "module A 111;9 -", "done A dropped", "next B", "module B 111;9 -"}},
    {"a module whose ports have all gone is forgotten",
     {"watch", "list A", "next A", "module A 111;9 -", "done A kept", "list B", "next B",
      "module B 111;9 -"}},
    {"a port that went is no other port of its module",
     {"watch", "list A B", "next A", "module A 111;9 -", "list B", "next B", "module B 111;9 -"}},
    {"Ctrl-C: no port is taken any more, and those queued are given up",
     {"batch A B C", "next A", "halt", "next stop", "given-up B C", "done A kept", "given-up B C"}},
    {"a batch done gives up none", {"batch A", "next A", "done A dropped", "given-up"}},
    {"a watch halted gives up the ports queued, a port back among them",
     {"watch", "list A B", "next A", "done A kept", "list B", "list A B", "halt", "given-up A B"}},
    {"the watch over: the ports queued are still taken",
     {"watch", "list A B", "stop", "next A", "next B", "next stop"}},
    {"a port back while its job runs is taken once that job ends",
     {"watch", "list A", "next A", "list", "list A", "next wait", "done A kept", "next A", "next wait"}},
    {"a port gone while its job runs is not taken again",
     {"watch", "list A", "next A", "list", "done A kept", "next wait", "list A", "next A"}},
    {"one job a device, whichever path leads to it",
     {"watch", "list A=d1 B=d1", "next A", "next wait", "list B=d1", "next B"}},
    {"two devices, two jobs", {"watch", "list A=d1 B=d2", "next A", "next B"}},
    {"a port parked holds no job, and is taken again at its time",
     {"batch A B", "next A", "park A 2000", "next B", "next@1999 wait", "next@2000 A", "next@9000 stop"}},
    {"a batch waits for its parked ports", {"batch A", "next A", "park A 2000", "next wait", "to-close"}},
    {"a parked port that goes is closed, and its entry freed",
     {"watch", "list A", "next A", "park A 2000", "list", "to-close A", "done A dropped", "next@3000 wait",
      "entries 1", "list A", "next A"}},
    {"a parked port's state, and a port parked while a job runs another",
     {"batch A B", "next A", "state A busy", "park A 2000", "state A parked", "next B", "state B busy",
      "next@2000 A", "done A kept", "state A done", "next stop"}},
    {"a link pointed at another node between two looks is a new port",
     {"watch", "list A@n1", "next A", "done A kept", "list A@n2", "next A"}},
    {"the same node at the next look is the same port", {"watch", "list A@n1", "next A", "done A kept",
                                                         "list A@n1", "next wait"}},
    {"pointed elsewhere while its job runs: taken again once the job ends",
     {"watch", "list A@n1", "next A", "list A@n2", "next wait", "done A kept", "next A"}},
    {"pointed elsewhere while parked: closed as gone, then taken anew",
     {"watch", "list A@n1", "next A", "park A 9000", "list A@n2", "done A dropped", "next A"}},
    {"a module whose port was pointed elsewhere is held no longer",
     {"watch", "list A@n1 B", "next A", "module A 111;9 -", "done A kept", "list A@n2 B", "next A", "next B",
      "module B 111;9 -"}},
    {"halted: every parked port is closed",
     {"batch A B", "next A", "park A 100", "halt", "to-close A", "next@200 stop"}},
    {"the entries of ports gone are reused",
     {"watch", "churn 1000", "entries 1", "list A B", "churn 1000", "entries 3"}},
};

std::vector<std::string> words_of(const char *step) {
    std::istringstream in(step);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::size_t index_of(const veld::scheduler &s, const std::string &path) {
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        if (s.ports[i].state != veld::port_state::free && s.ports[i].path == path) return i;
    }
    ADD_FAILURE() << "no port " << path;
    return 0;
}

std::string run_next(veld::scheduler &s, long long now_ms) {
    std::size_t index = 0;
    switch (veld::schedule_next(s, now_ms, index)) {
        case veld::next_step::take: return s.ports[index].path;
        case veld::next_step::wait: return "wait";
        case veld::next_step::stop: return "stop";
    }
    return "?";
}

void run_step(veld::scheduler &s, const std::vector<std::string> &w) {
    const std::vector<std::string> rest(w.begin() + 1, w.end());
    if (w[0] == "batch") {
        std::vector<char *> devices;
        for (const std::string &path : rest) devices.push_back(const_cast<char *>(path.c_str()));
        veld::schedule_batch(s, devices.data(), devices.size());
    } else if (w[0] == "watch") {
        veld::schedule_watch(s);
    } else if (w[0] == "list") {
        std::vector<veld::listed_port> listed;
        for (const std::string &word : rest) {
            const std::size_t at = std::min(word.find('@'), word.size());
            const std::size_t equals = std::min(word.find('='), at);
            listed.push_back({word.substr(0, equals), word.substr(std::min(equals + 1, at), at - std::min(equals + 1, at)),
                              word.substr(std::min(at + 1, word.size()))});
        }
        veld::schedule_listing(s, listed);
    } else if (w[0].rfind("next", 0) == 0) {
        const long long now_ms = w[0].size() > 5 ? std::stoll(w[0].substr(5)) : 0;
        EXPECT_EQ(run_next(s, now_ms), w.at(1));
    } else if (w[0] == "park") {
        veld::schedule_park(s, index_of(s, w.at(1)), std::stoll(w.at(2)));
    } else if (w[0] == "to-close") {
        std::vector<std::string> paths;
        for (std::size_t i : veld::schedule_parked_to_close(s)) paths.push_back(s.ports[i].path);
        EXPECT_EQ(paths, rest);
    } else if (w[0] == "state") {
        static const char *const names[] = {"free", "queued", "busy", "parked", "done"};
        EXPECT_STREQ(names[static_cast<int>(s.ports[index_of(s, w.at(1))].state)], w.at(2).c_str());
    } else if (w[0] == "module") {
        const long other = veld::schedule_module(s, index_of(s, w.at(1)), w.at(2));
        EXPECT_EQ(other < 0 ? "-" : s.ports[static_cast<std::size_t>(other)].path, w.at(3));
    } else if (w[0] == "done") {
        veld::schedule_done(s, index_of(s, w.at(1)), w.at(2) == "kept");
    } else if (w[0] == "halt") {
        veld::schedule_halt(s);
    } else if (w[0] == "given-up") {
        std::vector<std::string> paths;
        for (std::size_t i : veld::schedule_given_up(s)) paths.push_back(s.ports[i].path);
        EXPECT_EQ(paths, rest);
    } else if (w[0] == "churn") {
        for (int i = 0; i < std::stoi(w.at(1)); ++i) {
            const std::string path = "P" + std::to_string(i);
            std::vector<veld::listed_port> listed{{path, "", ""}};
            for (const veld::port_entry &p : s.ports) {
                if (p.state != veld::port_state::free && p.present && p.path[0] != 'P') {
                    listed.push_back({p.path, p.device, p.node});
                }
            }
            veld::schedule_listing(s, listed);
            std::size_t index = 0;
            ASSERT_EQ(veld::schedule_next(s, 0, index), veld::next_step::take);
            veld::schedule_done(s, index, true);
            listed.erase(listed.begin());
            veld::schedule_listing(s, listed);
        }
    } else if (w[0] == "entries") {
        EXPECT_LE(s.ports.size(), std::stoul(w.at(1)));
    } else if (w[0] == "stop") {
        veld::schedule_stop(s);
    } else {
        ADD_FAILURE() << "unknown step " << w[0];
    }
}

TEST(Scheduler, Scripts) {
    for (const scheduler_case &c : scheduler_cases) {
        veld::scheduler s{};
        for (const char *step : c.steps) {
            SCOPED_TRACE(std::string(c.name) + ": " + step);
            run_step(s, words_of(step));
        }
        std::size_t busy = 0;
        for (const veld::port_entry &p : s.ports) busy += p.state == veld::port_state::busy;
        EXPECT_EQ(s.running, busy) << c.name << ": every job taken is running until it is done";
    }
}

}  // namespace
