#pragma once

#include <fstream>
#include <string>

namespace quindral::testing {

// The peak of this process's resident memory from here on: what a click costs in memory.
inline void ResetPeakResidentMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The process's resident memory at its peak since the last reset, in KiB; -1 when unknown.
inline long PeakResidentKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

} // namespace quindral::testing
