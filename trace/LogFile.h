#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>

namespace quindral {

inline constexpr std::string_view kLogFileName = "Quindral.log";

// The directory that holds the running executable, as the platform reports it. Throws when the
// platform cannot tell.
std::filesystem::path ExecutableDirectory();

// The log file in the given directory: the directory, one separator and "Quindral.log". The
// separator is always added, as the platform writes it, even after a directory that ends in one.
std::filesystem::path LogFilePathIn(const std::filesystem::path& directory);

// "Quindral.log" beside the running executable.
std::filesystem::path LogFilePath();

// The log file opened for appending, for the length of one trace call. Each line goes to the file
// in one write, so a line is either whole in the file or not there at all: a write that the disk
// cannot take completely is taken back, and lines from two programs never mix. Only a regular file
// is opened: a pipe, device, socket or folder where the log belongs fails the open, at once.
class LogFile {
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // What the file is opened for: one line, or a run's separator, which starts a line of its own.
    enum class Purpose { Line, StartRun };

    // Opens the file for appending, creating it when absent. Never blocks on whatever is there. A
    // regular file under another program's lease is asked for again for kLeaseWait at most, once
    // a run: after one open of a run has given up, the run's later opens give up at once (on
    // Windows the system settles an oplock's break inside the open). Throws on failure, and when
    // what is there is not a regular file.
    void Open(const std::filesystem::path& path, Purpose purpose = Purpose::Line);
    // Appends text in the narrow code page, then CR LF. Throws on failure or when not open.
    void WriteLine(std::string_view utf8Text);
    // Appends text as WriteLine does, at the start of a line: when the file does not end in CR LF
    // (a program killed in the middle of a line), the cut line is ended first, in the same write,
    // and its text stays. Where the file cannot be read, the line is appended as it is. Other
    // copies of the program doing the same wait for each other, kLineStartLockWait at most.
    // Needs a file opened to start a run.
    void WriteLineOfItsOwn(std::string_view utf8Text);
    // Closes the file. Throws when it was not open or the close failed.
    void Close();

    static constexpr std::chrono::milliseconds kLineStartLockWait{500};
    static constexpr std::chrono::milliseconds kLeaseWait{500};

private:
    // The lock that copies of the program take to start a run: true when taken.
    bool LockLineStart();
    void UnlockLineStart();
    // What ends the file's last line when it was cut: nothing when it ends a line already (or the
    // file is empty or cannot be read), LF after a lone CR, else CR LF.
    std::string_view CutLineEnding();
    // The file's last byte; nothing when it is empty. Throws when the file cannot be read.
    std::optional<char> LastByte();
    // One write: the prefix, text in the narrow code page, then CR LF.
    void Write(std::string_view prefix, std::string_view utf8Text);

#ifdef _WIN32
    void* handle_ = nullptr;
    std::filesystem::path path_;
#else
    int fd_ = -1;
#endif
};

} // namespace quindral
