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

} // namespace quindral
