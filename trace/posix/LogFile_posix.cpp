// The log file on POSIX systems. The narrow code page here is UTF-8, whatever the process locale:
// directory servers send UTF-8, and squeezing it into a "C" locale's ASCII would lose characters.

#include "../LogFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace quindral {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Whether a line's open has given up on a lease since the last run began: the lines after it then
// give up at once, so that one lease costs a run its wait once, however many lines follow.
std::atomic<bool> leaseWaitedOut{false};

} // namespace

std::filesystem::path ExecutableDirectory() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

LogFile::~LogFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void LogFile::Open(const std::filesystem::path& path, Purpose purpose) {
    // Opened without waiting on whatever stands there (a FIFO never blocks an open with O_NONBLOCK)
    // and kept only when it is a regular file: a FIFO, device or socket would take the lines
    // somewhere else. O_NONBLOCK changes nothing for a regular file's reads and writes, so it
    // stays set. A new run reads the file's last byte too, where the file grants it.
    const int access = purpose == Purpose::StartRun ? O_RDWR : O_WRONLY;
    const auto open = [&](int mode, int waiting) {
        int fd;
        do {
            fd = ::open(path.c_str(), mode | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | waiting,
                        0666);
        } while (fd < 0 && errno == EINTR);
        return fd;
    };
    const auto openGranted = [&](int waiting) {
        const int fd = open(access, waiting);
        return fd < 0 && errno == EACCES && access == O_RDWR ? open(O_WRONLY, waiting) : fd;
    };
    if (purpose == Purpose::StartRun) {
        leaseWaitedOut = false;
    }
    int fd = openGranted(O_NONBLOCK);
    if (fd < 0 && errno == EAGAIN && !leaseWaitedOut) {
        // Only a regular file under a lease (an NFS delegation, a Samba oplock) answers so: the
        // open has asked its holder to give it up. Asked again, never blocking, for a bounded
        // time: a blocking open would wait out the kernel's lease-break-time (45 s), and a holder
        // may take the lease again after every break.
        const auto until = std::chrono::steady_clock::now() + kLeaseWait;
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            fd = openGranted(O_NONBLOCK);
        } while (fd < 0 && errno == EAGAIN && std::chrono::steady_clock::now() < until);
        if (fd < 0 && errno == EAGAIN) {
            leaseWaitedOut = true;
        }
    }
    if (fd < 0) {
        ThrowErrno("open log file");
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw std::system_error(EINVAL, std::generic_category(), "log file not a regular file");
    }
    fd_ = fd;
}

bool LogFile::LockLineStart() {
    // Other copies of the program take the same lock to start a run, so that two of them never
    // both end one cut line. Whoever holds it does so for a check and a write; the wait is
    // bounded all the same, and without the lock the run still starts.
    const auto until = std::chrono::steady_clock::now() + kLineStartLockWait;
    for (;;) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void LogFile::UnlockLineStart() {
    // The close that ends the call gives the lock back, a call sooner.
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
    // The disk took part of the line (a short write sets no errno: the disk took no more). Take it
    // back, unless someone has appended after it since.
    const off_t end = ::lseek(fd_, 0, SEEK_CUR);
    struct stat status {};
    if (end >= written && ::fstat(fd_, &status) == 0 && status.st_size == end) {
        if (::ftruncate(fd_, end - written) != 0) {
            // Nothing more can be done for the line; the write's own error is what counts.
        }
    }
    throw std::system_error(ENOSPC, std::generic_category(), "short write to log file");
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
