// The log file on POSIX systems. The narrow code page here is UTF-8, whatever the process locale:
// directory servers send UTF-8, and squeezing it into a "C" locale's ASCII would lose characters.

#include "../LogFile.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quindral {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

std::filesystem::path ExecutableDirectory() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

LogFile::~LogFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void LogFile::Open(const std::filesystem::path& path) {
    // Only a regular file is opened. A FIFO there would block the open until some reader came, and
    // a device or socket would take the lines somewhere else or do something on open; whatever is
    // there is looked at first, opened without waiting, and looked at again once open, in case it
    // was swapped in between.
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        throw std::system_error(EINVAL, std::generic_category(), "log file not a regular file");
    }
    // Read access too, where the file grants it, to see whether its last line was cut.
    constexpr int kFlags = O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | kFlags, 0666);
        if (fd < 0 && errno == EACCES) {
            fd = ::open(path.c_str(), O_WRONLY | kFlags, 0666);
        }
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ThrowErrno("open log file");
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw std::system_error(EINVAL, std::generic_category(), "log file not a regular file");
    }
    // Writes to a regular file wait for the disk as they always have.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    fd_ = fd;
}

std::optional<char> LogFile::LastByte() {
    struct stat status {};
    if (fd_ < 0 || ::fstat(fd_, &status) != 0) {
        ThrowErrno("log file size");
    }
    if (status.st_size == 0) {
        return std::nullopt;
    }
    char last = 0;
    ssize_t got;
    do {
        got = ::pread(fd_, &last, 1, status.st_size - 1);
    } while (got < 0 && errno == EINTR);
    if (got != 1) {
        ThrowErrno("read log file");
    }
    return last;
}

void LogFile::Write(std::string_view prefix, std::string_view utf8Text) {
    if (fd_ < 0) {
        throw std::system_error(EBADF, std::generic_category(), "log file not open");
    }
    std::string line;
    line.reserve(prefix.size() + utf8Text.size() + 2);
    line.append(prefix);
    line.append(utf8Text);
    line.append("\r\n");

    // One write with O_APPEND: the line lands at the end of the file in one piece, even when
    // another process appends at the same time.
    ssize_t written;
    do {
        written = ::write(fd_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        ThrowErrno("write log file");
    }
    if (static_cast<size_t>(written) == line.size()) {
        return;
    }
    // The disk took part of the line. Take it back, unless someone has appended after it since.
    const int writeError = errno == 0 ? ENOSPC : errno;
    const off_t end = ::lseek(fd_, 0, SEEK_CUR);
    struct stat status {};
    if (end >= written && ::fstat(fd_, &status) == 0 && status.st_size == end) {
        (void)::ftruncate(fd_, end - written);
    }
    throw std::system_error(writeError, std::generic_category(), "short write to log file");
}

void LogFile::Close() {
    if (fd_ < 0) {
        throw std::system_error(EBADF, std::generic_category(), "log file not open");
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        ThrowErrno("close log file");
    }
}

} // namespace quindral
