#include "record_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace veld {

bool record_check(const char *path, reason &why) {
    std::FILE *probe = std::fopen(path, "rb");
    const bool existed = probe != nullptr;
    if (probe != nullptr) std::fclose(probe);
    std::FILE *file = std::fopen(path, "ab");
    if (file == nullptr) return fail(why, "%s", std::strerror(errno));
    std::fclose(file);
    if (!existed) std::remove(path);
    return true;
}

}  // namespace veld
