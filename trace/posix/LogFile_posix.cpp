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
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ThrowErrno("open log file");
    }
    fd_ = fd;
}

void LogFile::WriteLine(std::string_view utf8Text) {
    if (fd_ < 0) {
        throw std::system_error(EBADF, std::generic_category(), "log file not open");
    }
    std::string line;
    line.reserve(utf8Text.size() + 2);
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
