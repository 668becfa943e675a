// A module's side of a link held in memory, for the conversation's tests
// and fuzzer: its bytes arrive in the pieces given, one piece a read; an
// empty piece, and every read after the last, is a wait that passes with
// nothing; a piece larger than the reader's room arrives over several
// reads. What is written and what was read are kept; write_result is what
// writes return.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

struct memory_port {
    std::vector<std::string> pieces;  // one per read
    std::size_t next = 0;
    std::string written;
    int write_result = 0;
    std::size_t offset = 0;  // into pieces[next]
    std::string delivered;
};

inline long read_memory(void *context, char *buffer, std::size_t capacity, long timeout_ms) {
    auto &port = *static_cast<memory_port *>(context);
    if (port.next == port.pieces.size() || port.pieces[port.next].empty()) {
        port.next += port.next < port.pieces.size();
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return 0;
    }
    const std::string &piece = port.pieces[port.next];
    const std::size_t n = piece.copy(buffer, capacity, port.offset);
    port.delivered.append(buffer, n);
    port.offset += n;
    if (port.offset == piece.size()) port.next++, port.offset = 0;
    return static_cast<long>(n);
}

inline int write_memory(void *context, const char *data, std::size_t len) {
    auto &port = *static_cast<memory_port *>(context);
    if (port.write_result == 0) port.written.append(data, len);
    return port.write_result;
}

