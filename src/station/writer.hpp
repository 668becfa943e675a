// The one owner of standard output and standard error while the station
// runs: a thread of its own writes what it is handed, in order, so that no
// job, and no lock the jobs share, ever waits on a terminal. A stopped
// terminal (Ctrl-S, a paused ssh session or tmux pane, a console's
// selection) holds this thread alone; the ports go on. Result lines and
// messages are kept until written; while the terminal takes nothing,
// --verbose text beyond a bound and view frames not yet drawn are dropped,
// and the count of verbose pieces dropped is said once it takes output
// again. Standard error stays blocking: the terminal is the shell's too.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace veld {

enum class piece_kind { line, message, verbose };

struct piece {
    piece_kind kind;
    std::string text;
    std::string owner;  // a line's "DEVICE (RESULT)", named when it is lost
    bool kept;          // a line whose port's object is in the report
    std::size_t order;
};

struct writer {
    const char *program;
    bool view_on;        // the live view is drawn on standard error
    bool shares_stdout;  // standard output is that same terminal
    std::mutex lock;     // all below
    std::condition_variable ready;
    std::deque<piece> pieces;
    std::size_t verbose_queued;
    std::size_t dropped;  // verbose pieces, since last said
    std::string frame;    // the view's latest frame not yet drawn
    std::size_t frame_order;
    bool frame_pending;
    std::size_t order;    // of the last piece or frame handed over
    std::size_t lost;     // result lines that could not be written
    std::size_t lines_in_flight;  // taken by the thread, not yet written
    std::size_t kept_in_flight;   // the same, of lines kept in the report
    bool stopping;
    bool done;            // the thread has written everything and ended
    std::thread thread;
    // The thread's own.
    std::size_t lines_shown;  // of the view, on the terminal now
};

// Starts the thread; false when it cannot be started (the pieces are then
// written by the caller, as they come).
bool writer_start(writer &w);

// A result line for standard output; owner names it if it is lost (kept:
// its object is in the report, so a terminal gone after a hang-up loses
// no record).
void write_line(writer &w, std::string text, std::string owner, bool kept);

// Text for standard error that must reach it (a record lost, the summary).
void write_message(writer &w, std::string text);

// --verbose text for standard error, dropped beyond a bound while the
// terminal takes nothing.
void write_verbose(writer &w, std::string text);

// The view's next frame (its lines, the last without a line end), drawn
// in place of the one on the terminal; one not yet drawn is replaced.
void write_frame(writer &w, std::string frame);

// The view erased, then everything handed over written: as long as it
// takes, or, once the run is interrupted (Ctrl-C, SIGTERM, SIGHUP), at
// most grace_ms more. Result lines not written by then count as lost,
// unless kept after a hang-up. false when the thread is still held by the
// terminal: the process must then end without flushing its streams.
bool writer_finish(writer &w, long grace_ms);

// The result lines lost so far.
std::size_t writer_lost(writer &w);

}  // namespace veld
