#include "report/ldap/host/LocalFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quindral {

namespace {

LocalFile Read(const std::string& path, std::size_t cap, bool keep) {
    LocalFile file;
    // O_NONBLOCK: a FIFO never holds the open; the descriptor's type decides what is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // A folder cannot be opened for reading on some systems; it is no file all the same.
        if (errno == EISDIR) {
            file.state = LocalFile::State::NotRegular;
        }
        return file;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        file.state = LocalFile::State::NotRegular;
        ::close(fd);
        return file;
    }
    file.state = LocalFile::State::Whole;
    // Read in whole blocks until past the cap: a byte beyond it tells a file of exactly the cap
    // from a longer one (and some procfs files take no read of a single byte). Room for what the
    // file says it holds, or for the cap where it says nothing, is made once.
    char buffer[4096];
    const auto reported = static_cast<std::size_t>(std::max<off_t>(status.st_size, 0));
    if (keep) {
        file.bytes.reserve((reported == 0 ? cap : std::min(reported, cap)) + sizeof buffer);
    }
    std::size_t size = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
        if (keep) {
            file.bytes.append(buffer, static_cast<std::size_t>(got));
        }
        if (size > cap) {
            file.bytes.resize(std::min(file.bytes.size(), cap));
            file.state = LocalFile::State::Cut;
            break;
        }
    }
    ::close(fd);
    return file;
}

} // namespace

LocalFile ReadLocalFile(const std::string& path, std::size_t cap) {
    return Read(path, cap, true);
}

LocalFile LookAtLocalFile(const std::string& path, std::size_t cap) {
    return Read(path, cap, false);
}

std::string RegularFileText(const std::string& path) {
    return ReadLocalFile(path).bytes;
}

} // namespace quindral
