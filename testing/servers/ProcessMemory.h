#pragma once

#include <fstream>
#include <string>

namespace quindral::testing {

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

// The peak of this process's resident memory from here on: what a click costs in memory. The
// peak is set back to what the process holds now, which is returned (KiB; -1 when unknown). Take
// it after a warm-up of the same kind as what is measured (a TLS click before a TLS case), so
// that what a first use costs once is not counted.
inline long ResetPeakResidentMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
    return PeakResidentKib();
}

} // namespace quindral::testing
