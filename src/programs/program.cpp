#include "program.hpp"

#include <cstdarg>

namespace veld {

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

bool read_input(const char *program, const char *path, framing &f) {
    reason why;
    const bool read = read_command_file(path, f, why);
    reason warning;
    if (lower_case_warning(f, warning)) std::fprintf(stderr, "%s: %s\n", program, warning.text);
    if (!read) std::fprintf(stderr, "%s: %s\n", program, why.text);
    return read;
}

}  // namespace veld
