#include "terminal.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/ioctl.h>
#include <unistd.h>

namespace veld {

void terminal_size(std::size_t &width, std::size_t &height) {
    width = 80;
    height = 24;
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        width = size.ws_col;
        height = size.ws_row;
    }
}

void terminal_erase(std::size_t lines_shown, std::string &out) {
    char text[32];
    if (lines_shown > 1) std::snprintf(text, sizeof text, "\r\x1b[%zuA\x1b[J", lines_shown - 1);
    else std::snprintf(text, sizeof text, "\r\x1b[J");
    out += text;
}

bool terminal_moves_cursor() {
    const char *term = std::getenv("TERM");
    return term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
}

}  // namespace veld
