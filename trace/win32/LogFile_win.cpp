// The log file on Windows: lines in the system's ANSI code page, appended with one WriteFile each.

#include "../LogFile.h"
#include "win32/WideText.h"

#include <system_error>
#include <vector>
#include <windows.h>

namespace quindral {

namespace {

[[noreturn]] void ThrowLastError(const char* what) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

} // namespace

std::filesystem::path ExecutableDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            ThrowLastError("GetModuleFileNameW");
        }
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            return std::filesystem::path(path.substr(0, path.find_last_of(L"\\/")));
        }
        buffer.resize(buffer.size() * 2);
    }
}

LogFile::~LogFile() {
    if (handle_ != nullptr) {
        CloseHandle(handle_);
    }
}

void LogFile::Open(const std::filesystem::path& path, Purpose purpose) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end of the file, even
    // when another program appends too. Others may read and write the file meanwhile, as they
    // could with any log. To start a run, read access too, where the file and its other users
    // allow it, to see whether its last line was cut.
    constexpr DWORD kAppend = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
    const auto open = [&](DWORD access) {
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    const bool startRun = purpose == Purpose::StartRun;
    HANDLE file = open(startRun ? kAppend | FILE_READ_DATA : kAppend);
    if (file == INVALID_HANDLE_VALUE && startRun &&
        (GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_SHARING_VIOLATION)) {
        file = open(kAppend);
    }
    if (file == INVALID_HANDLE_VALUE) {
        ThrowLastError("open log file");
    }
    // A folder there cannot be opened at all; a pipe, console or other device reached through
    // a link is opened, and refused here.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        throw std::system_error(ERROR_INVALID_FUNCTION, std::system_category(),
                                "log file not a regular file");
    }
    handle_ = file;
    path_ = path;
}

namespace {

// Copies of the program lock one byte far past any log's end to start a run. Windows' locks bind
// reads and writes of the bytes they cover, and the log's appends never reach that far.
OVERLAPPED LineStartLockPlace() {
    OVERLAPPED place{};
    place.Offset = 0;
    place.OffsetHigh = 0x7FFFFFFF;
    return place;
}

} // namespace

bool LogFile::LockLineStart() {
    // Held for a check and a write; the wait is bounded all the same, and without the lock the run
    // still starts. A handle without read access cannot take it.
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(kLineStartLockWait.count());
    for (;;) {
        OVERLAPPED place = LineStartLockPlace();
        if (LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &place)) {
            return true;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() >= until) {
            return false;
        }
        Sleep(1);
    }
}

void LogFile::UnlockLineStart() {
    OVERLAPPED place = LineStartLockPlace();
    UnlockFileEx(handle_, 0, 1, 0, &place);
}

std::optional<char> LogFile::LastByte() {
    LARGE_INTEGER size{};
    if (handle_ == nullptr || !GetFileSizeEx(handle_, &size)) {
        ThrowLastError("log file size");
    }
    if (size.QuadPart == 0) {
        return std::nullopt;
    }
    const LONGLONG at = size.QuadPart - 1;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at & 0xFFFFFFFF);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    char last = 0;
    DWORD got = 0;
    if (!ReadFile(handle_, &last, 1, &got, &where) || got != 1) {
        ThrowLastError("read log file");
    }
    return last;
}

void LogFile::Write(std::string_view prefix, std::string_view utf8Text) {
    if (handle_ == nullptr) {
        throw std::system_error(ERROR_INVALID_HANDLE, std::system_category(), "log file not open");
    }
    std::string line(prefix);
    line += AnsiFromUtf8(utf8Text);
    line += "\r\n";
    LARGE_INTEGER before{};
    const bool knowSize = GetFileSizeEx(handle_, &before) != 0;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(handle_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (ok && written == line.size()) {
        return;
    }
    // Part of the line reached the disk: take it back, so that no broken line stays behind.
    const DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
    LARGE_INTEGER after{};
    if (written > 0 && knowSize && GetFileSizeEx(handle_, &after) &&
        after.QuadPart == before.QuadPart + written) {
        // The append-only handle cannot cut the file; a second one, for this alone, can.
        HANDLE cutter =
            CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (cutter != INVALID_HANDLE_VALUE) {
            FILE_END_OF_FILE_INFO end{};
            end.EndOfFile = before;
            SetFileInformationByHandle(cutter, FileEndOfFileInfo, &end, sizeof end);
            CloseHandle(cutter);
        }
    }
    throw std::system_error(static_cast<int>(error), std::system_category(), "write log file");
}

void LogFile::Close() {
    if (handle_ == nullptr) {
        throw std::system_error(ERROR_INVALID_HANDLE, std::system_category(), "log file not open");
    }
    HANDLE file = handle_;
    handle_ = nullptr;
    if (!CloseHandle(file)) {
        ThrowLastError("close log file");
    }
}

} // namespace quindral
