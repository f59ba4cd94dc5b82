#include "LogTrace.h"

#include "LogFile.h"
#include "Step.h"

#include <string>

namespace quindral {

void TraceSink::LogTrace(std::string_view message, bool newRun) noexcept {
    // The file is opened before the pane is touched, and the pane is updated before the line is
    // written, so a line that reached the file has always reached the pane as well.
    LogFile file;
    RunStep(
        [&] { file.Open(logFile_, newRun ? LogFile::Purpose::StartRun : LogFile::Purpose::Line); });
    if (newRun) {
        RunStep([&] { pane_.SetText(std::string()); });
        // A run starts on a line of its own, also after a run that was killed mid-line, so the
        // log can always be split into runs at its separator lines.
        RunStep([&] { file.WriteLineOfItsOwn(kRunSeparator); });
    } else {
        RunStep([&] { pane_.AppendLine(std::string(message)); });
        RunStep([&] { file.WriteLine(message); });
    }
    RunStep([&] { file.Close(); });
}

} // namespace quindral
