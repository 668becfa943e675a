// The programs' edge on POSIX systems.
#include "program.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace veld {

void binary_standard_streams() {}  // every stream is binary here

bool is_terminal(std::FILE *stream) { return isatty(fileno(stream)) != 0; }

bool same_terminal(std::FILE *a, std::FILE *b) {
    if (!is_terminal(a) || !is_terminal(b)) return false;
    struct stat sa, sb;
    return fstat(fileno(a), &sa) == 0 && fstat(fileno(b), &sb) == 0 && sa.st_rdev == sb.st_rdev;
}

std::string host_name() {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0) name[0] = '\0';
    return name;
}

}  // namespace veld
