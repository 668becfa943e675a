#include "program.hpp"

#include <cstdarg>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veld {

void binary_standard_streams() {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

namespace {

void say_usage_error(const char *program, const char *format, va_list values) {
    std::fprintf(stderr, "%s: ", program);
    std::vfprintf(stderr, format, values);
    std::fprintf(stderr, "\nTry '%s --help'.\n", program);
}

}  // namespace

int usage_error(const char *program, const char *format, ...) {
    va_list values;
    va_start(values, format);
    say_usage_error(program, format, values);
    va_end(values);
    return 2;
}

bool refuse(const char *program, const char *format, ...) {
    va_list values;
    va_start(values, format);
    say_usage_error(program, format, values);
    va_end(values);
    return false;
}

bool is_terminal(std::FILE *stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

bool same_terminal(std::FILE *a, std::FILE *b) {
    if (!is_terminal(a) || !is_terminal(b)) return false;
#ifdef _WIN32
    return true;  // a process has one console
#else
    struct stat sa, sb;
    return fstat(fileno(a), &sa) == 0 && fstat(fileno(b), &sb) == 0 && sa.st_rdev == sb.st_rdev;
#endif
}

std::string host_name() {
    char name[256] = "";
#ifdef _WIN32
    DWORD len = sizeof name;
    if (!GetComputerNameA(name, &len)) name[0] = '\0';
#else
    if (gethostname(name, sizeof name - 1) != 0) name[0] = '\0';
#endif
    return name;
}

bool read_input(const char *program, const char *path, framing &f) {
    reason why;
    const bool read = read_command_file(path, f, why);
    reason warning;
    if (lower_case_warning(f, warning)) std::fprintf(stderr, "%s: %s\n", program, warning.text);
    if (!read) std::fprintf(stderr, "%s: %s\n", program, why.text);
    return read;
}

}  // namespace veld
