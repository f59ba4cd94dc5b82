#include "LogFile.h"

namespace quindral {

std::filesystem::path LogFilePathIn(const std::filesystem::path& directory) {
    auto text = directory.native();
    text += std::filesystem::path::preferred_separator;
    text += std::filesystem::path(kLogFileName).native();
    return std::filesystem::path(text);
}

std::filesystem::path LogFilePath() {
    return LogFilePathIn(ExecutableDirectory());
}

void LogFile::WriteLine(std::string_view utf8Text) {
    Write({}, utf8Text);
}

void LogFile::WriteLineOfItsOwn(std::string_view utf8Text) {
    // The check of the last byte and the write are one step against other copies of the program:
    // two of them that both found a cut line would otherwise both end it, one with a blank line.
    struct Unlock {
        LogFile* file;
        ~Unlock() {
            if (file != nullptr) {
                file->UnlockLineStart();
            }
        }
    } unlock{LockLineStart() ? this : nullptr};
    Write(CutLineEnding(), utf8Text);
}

std::string_view LogFile::CutLineEnding() {
    std::optional<char> last;
    try {
        last = LastByte();
    } catch (...) {
        return {};
    }
    // A line that ends in LF alone was ended by someone else's editor, not cut.
    if (!last || *last == '\n') {
        return {};
    }
    return *last == '\r' ? "\n" : "\r\n";
}

} // namespace quindral
