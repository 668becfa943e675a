#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "port.hpp"

namespace veld {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void note_interrupt(int) { interrupted = 1; }

struct rate {
    long baud;
    speed_t speed;
};

const rate rates[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

bool find_rate(long baud, speed_t &speed) {
    for (const rate &r : rates) {
        if (r.baud == baud) {
            speed = r.speed;
            return true;
        }
    }
    return false;
}

void reason(char *why, std::size_t len, const char *text) {
    std::snprintf(why, len, "%s", text);
}

port_status fail(serial_port &port, port_status status, char *why, std::size_t len) {
    reason(why, len, std::strerror(errno));
    close(port.fd);
    port.fd = -1;
    return status;
}

}  // namespace

port_status port_open(serial_port &port, const char *device, long baud, bool rtscts,
                      char *why, std::size_t why_len) {
    port.restore = false;
    port.fd = -1;
    speed_t speed{};
    if (!find_rate(baud, speed)) {
        reason(why, why_len, "not a rate a serial port can be set to");
        return port_status::bad_rate;
    }
    // Non-blocking, so that a port waiting for carrier does not hang open.
    port.fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.fd < 0) {
        reason(why, why_len, std::strerror(errno));
        return port_status::cannot_open;
    }
    if (!isatty(port.fd)) return fail(port, port_status::not_a_port, why, why_len);
    // Advisory, but it holds for root too, unlike TIOCEXCL.
    if (flock(port.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            reason(why, why_len, "another program holds it");
            close(port.fd);
            port.fd = -1;
            return port_status::in_use;
        }
        return fail(port, port_status::cannot_open, why, why_len);
    }
    if (tcgetattr(port.fd, &port.saved) != 0) {
        return fail(port, port_status::not_a_port, why, why_len);
    }
    termios raw = port.saved;
    cfmakeraw(&raw);
    raw.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    raw.c_cflag |= CS8 | CLOCAL | CREAD | (rtscts ? CRTSCTS : 0);
    raw.c_iflag &= ~(IXON | IXOFF | IXANY);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (cfsetispeed(&raw, speed) != 0 || cfsetospeed(&raw, speed) != 0 ||
        tcsetattr(port.fd, TCSANOW, &raw) != 0) {
        return fail(port, port_status::cannot_configure, why, why_len);
    }
    port.restore = true;
    // tcsetattr succeeds when any one change took: check that all did.
    termios now{};
    if (tcgetattr(port.fd, &now) != 0 || cfgetospeed(&now) != speed ||
        (now.c_cflag & CSIZE) != CS8 || (now.c_lflag & (ICANON | ECHO)) != 0) {
        errno = EINVAL;
        reason(why, why_len, "the port did not take raw 8N1 at this rate");
        port_close(port);
        return port_status::cannot_configure;
    }
    tcflush(port.fd, TCIFLUSH);  // what arrived before we listened is stale
    return port_status::ok;
}

long port_read(serial_port &port, char *buffer, std::size_t capacity, long timeout_ms) {
    if (interrupted) return -2;
    pollfd waiting{port.fd, POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(timeout_ms));
    if (ready < 0) return errno == EINTR && interrupted ? -2 : (errno == EINTR ? 0 : -1);
    if (ready == 0) return 0;
    const ssize_t n = read(port.fd, buffer, capacity);
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return interrupted ? -2 : 0;
    return -1;  // an error, or the other end hung up
}

int port_write(serial_port &port, const char *data, std::size_t len) {
    while (len > 0) {
        if (interrupted) return -2;
        const ssize_t n = write(port.fd, data, len);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd waiting{port.fd, POLLOUT, 0};
            if (poll(&waiting, 1, 1000) < 0 && errno != EINTR) return -1;
            continue;
        }
        if (n <= 0) return -1;
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return 0;
}

void port_close(serial_port &port) {
    if (port.fd < 0) return;
    if (port.restore) tcsetattr(port.fd, TCSANOW, &port.saved);
    close(port.fd);
    port.fd = -1;
}

void port_catch_interrupts() {
    struct sigaction action {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait ends at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool port_interrupted() { return interrupted != 0; }

}  // namespace veld
