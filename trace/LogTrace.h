#pragma once

#include "TextHolder.h"

#include <filesystem>
#include <string_view>

namespace quindral {

inline constexpr std::string_view kRunSeparator = "********************";

// LogTrace's newRun, named where it is called.
inline constexpr bool kStartRun = true;
inline constexpr bool kOneLine = false;

// The program's one output path: every report line is shown in the result pane and appended to
// the log file, and a new run empties the pane and writes the run separator to the log file.
// The sink keeps no state between calls: the file is opened and closed within each call, so every
// line is complete on disk when the call returns.
class TraceSink {
public:
    TraceSink(TextHolder& pane, std::filesystem::path logFile)
        : pane_(pane), logFile_(std::move(logFile)) {}

    // newRun true: empties the pane and appends the run separator to the log file; message is
    // ignored. newRun false: appends message as one line to the pane and to the log file.
    // Never fails: a step that fails (the file cannot be opened, the pane refuses its text) is
    // passed over and the call goes on with its next step.
    void LogTrace(std::string_view message, bool newRun) noexcept;

    const std::filesystem::path& LogFilePath() const { return logFile_; }

private:
    TextHolder& pane_;
    std::filesystem::path logFile_;
};

} // namespace quindral
