#include "report/ldap/plumbing/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quindral {

std::string RegularFileText(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return {};
    }
    struct stat status {};
    std::string text;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size < (1 << 20)) {
        char buffer[4096];
        for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return text;
}

} // namespace quindral
