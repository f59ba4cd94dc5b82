#pragma once

#include <filesystem>
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
// cannot take completely is taken back, and lines from two programs never mix.
class LogFile {
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens the file for appending, creating it when absent. Throws on failure.
    void Open(const std::filesystem::path& path);
    // Appends text in the narrow code page, then CR LF. Throws on failure or when not open.
    void WriteLine(std::string_view utf8Text);
    // Closes the file. Throws when it was not open or the close failed.
    void Close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
    std::filesystem::path path_;
#else
    int fd_ = -1;
#endif
};

} // namespace quindral
