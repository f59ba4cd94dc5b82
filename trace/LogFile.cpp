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
