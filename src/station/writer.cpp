#include "writer.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "port.hpp"
#include "terminal.hpp"
#include "timestamp.hpp"

namespace veld {

namespace {

// --verbose pieces waiting beyond this many are dropped.
constexpr std::size_t max_verbose_queued = 256;

bool put(std::FILE *out, const std::string &text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
    if (!written) std::clearerr(out);  // the next piece is tried on its own
    return written;
}

void erase_view(writer &w) {
    if (w.lines_shown == 0) return;
    std::string text;
    terminal_erase(w.lines_shown, text);
    put(stderr, text);
    w.lines_shown = 0;
}

// On a terminal one write: the old view goes as the new one comes.
void draw(writer &w, const std::string &frame) {
    std::string text;
    if (w.lines_shown > 0) terminal_erase(w.lines_shown, text);
    text += frame;
    put(stderr, text);
    w.lines_shown = 1;
    for (const char c : frame) w.lines_shown += c == '\n';
}

// A line that reached no one: said, and counted, unless its port's object
// is in the report and the terminal is gone with the hang-up.
void lose(writer &w, const piece &p, int error) {
    if (p.kept && port_hung_up()) return;
    {
        std::lock_guard<std::mutex> hold(w.lock);
        ++w.lost;
    }
    erase_view(w);
    put(stderr, "standard output lost " + p.owner + ": " + std::strerror(error) + "\n");
}

void write_piece(writer &w, const piece &p) {
    if (p.kind != piece_kind::line) {
        erase_view(w);
        put(stderr, p.text);
        return;
    }
    if (w.shares_stdout) erase_view(w);
    errno = 0;
    if (!put(stdout, p.text)) lose(w, p, errno != 0 ? errno : EIO);
}

// Writes what comes until finished.
void run(writer &w) {
    std::unique_lock<std::mutex> hold(w.lock);
    for (;;) {
        w.ready.wait(hold, [&w] { return !w.pieces.empty() || w.frame_pending || w.stopping; });
        if (w.pieces.empty() && w.stopping) break;
        std::deque<piece> batch;
        batch.swap(w.pieces);
        for (const piece &p : batch) {
            if (p.kind == piece_kind::line) ++(p.kept ? w.kept_in_flight : w.lines_in_flight);
        }
        w.verbose_queued = 0;
        const std::size_t dropped = w.dropped;
        w.dropped = 0;
        const bool drawing = w.frame_pending && !w.stopping;
        const std::size_t frame_order = w.frame_order;
        std::string frame;
        frame.swap(w.frame);
        w.frame_pending = false;
        hold.unlock();
        std::size_t last = 0;
        for (const piece &p : batch) {
            write_piece(w, p);
            last = p.order;
            if (p.kind != piece_kind::line) continue;
            std::lock_guard<std::mutex> taken(w.lock);
            --(p.kept ? w.kept_in_flight : w.lines_in_flight);
        }
        if (dropped > 0) {
            erase_view(w);
            put(stderr, std::string(w.program) + ": " + std::to_string(dropped) +
                            " pieces of --verbose output dropped while the terminal took none\n");
        }
        // A frame made before the last piece was handed over may be stale.
        if (drawing && frame_order > last) draw(w, frame);
        hold.lock();
    }
    hold.unlock();
    erase_view(w);
    hold.lock();
    w.done = true;
    w.ready.notify_all();
}

void hand_over(writer &w, piece p) {
    std::unique_lock<std::mutex> hold(w.lock);
    p.order = ++w.order;
    if (!w.thread.joinable()) {  // no thread of its own: written now
        hold.unlock();
        write_piece(w, p);
        return;
    }
    if (p.kind == piece_kind::verbose) {
        if (w.verbose_queued == max_verbose_queued) {
            ++w.dropped;
            return;
        }
        ++w.verbose_queued;
    }
    w.pieces.push_back(std::move(p));
    w.ready.notify_all();
}

}  // namespace

bool writer_start(writer &w) {
    try {
        w.thread = std::thread(run, std::ref(w));
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

void write_line(writer &w, std::string text, std::string owner, bool kept) {
    hand_over(w, {piece_kind::line, std::move(text), std::move(owner), kept, 0});
}

void write_message(writer &w, std::string text) { hand_over(w, {piece_kind::message, std::move(text), {}, false, 0}); }

void write_verbose(writer &w, std::string text) { hand_over(w, {piece_kind::verbose, std::move(text), {}, false, 0}); }

void write_frame(writer &w, std::string frame) {
    std::unique_lock<std::mutex> hold(w.lock);
    if (!w.view_on) return;
    if (!w.thread.joinable()) {
        hold.unlock();
        draw(w, frame);
        return;
    }
    w.frame.swap(frame);
    w.frame_order = ++w.order;
    w.frame_pending = true;
    w.ready.notify_all();
}

bool writer_finish(writer &w, long grace_ms) {
    if (!w.thread.joinable()) {
        erase_view(w);
        return true;
    }
    std::unique_lock<std::mutex> hold(w.lock);
    w.stopping = true;
    w.ready.notify_all();
    const auto finished = [&w] { return w.done; };
    long long deadline = -1;
    while (!w.done && (deadline < 0 || steady_clock_ms() < deadline)) {
        if (deadline < 0 && port_interrupted()) deadline = steady_clock_ms() + grace_ms;
        w.ready.wait_for(hold, std::chrono::milliseconds(20), finished);
    }
    if (w.done) {
        hold.unlock();
        w.thread.join();
        return true;
    }
    // The lines the terminal has not taken by now are not taken in time.
    const bool gone = port_hung_up();
    for (const piece &p : w.pieces) {
        if (p.kind == piece_kind::line && !(p.kept && gone)) ++w.lost;
    }
    w.lost += w.lines_in_flight + (gone ? 0 : w.kept_in_flight);
    hold.unlock();
    w.thread.detach();
    return false;
}

std::size_t writer_lost(writer &w) {
    std::lock_guard<std::mutex> hold(w.lock);
    return w.lost;
}

}  // namespace veld
