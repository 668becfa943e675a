// A module's side of a link held in memory, for the conversation's tests
// and fuzzer, on a clock of its own: its bytes arrive in the pieces given,
// one piece a read, at once; an empty piece, and every read after the
// last, is a wait that passes with nothing and moves the clock on by the
// whole timeout, so that nothing sleeps. A piece larger than the reader's
// room arrives over several reads. What is written and what was read are
// kept; write_result is what writes return.
#pragma once

#include <string>
#include <vector>

#include "link.hpp"

struct memory_port {
    std::vector<std::string> pieces;  // one per read
    std::size_t next = 0;
    std::string written;
    int write_result = 0;
    std::size_t offset = 0;  // into pieces[next]
    std::string delivered;
    long long clock_ms = 0;
};

inline long read_memory(void *context, char *buffer, std::size_t capacity, long timeout_ms) {
    auto &port = *static_cast<memory_port *>(context);
    if (port.next == port.pieces.size() || port.pieces[port.next].empty()) {
        port.next += port.next < port.pieces.size();
        port.clock_ms += timeout_ms;
        return 0;
    }
    const std::string &piece = port.pieces[port.next];
    const std::size_t n = piece.copy(buffer, capacity, port.offset);
    port.delivered.append(buffer, n);
    port.offset += n;
    if (port.offset == piece.size()) port.next++, port.offset = 0;
    return static_cast<long>(n);
}

inline int write_memory(void *context, const char *data, std::size_t len, long) {
    auto &port = *static_cast<memory_port *>(context);
    if (port.write_result == 0) port.written.append(data, len);
    return port.write_result;
}

inline long long memory_clock(void *context) { return static_cast<memory_port *>(context)->clock_ms; }

inline veld::link memory_link(memory_port &port) { return {&port, read_memory, write_memory, memory_clock}; }
