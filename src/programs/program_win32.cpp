// The programs' edge on Windows.
#include "program.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace veld {

void binary_standard_streams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool is_terminal(std::FILE *stream) { return _isatty(_fileno(stream)) != 0; }

bool same_terminal(std::FILE *a, std::FILE *b) {
    return is_terminal(a) && is_terminal(b);  // a process has one console
}

std::string host_name() {
    char name[256] = "";
    DWORD len = sizeof name;
    if (!GetComputerNameA(name, &len)) name[0] = '\0';
    return name;
}

}  // namespace veld
