#pragma once

#include <cstddef>
#include <string>

namespace quindral {

// Configuration and key files are read this far at the most, whatever size they report (a procfs
// file reports none and may never end).
inline constexpr std::size_t kLocalFileCap = std::size_t{1} << 20;

// What stands at a path, looked at without waiting on it: nothing that can be read (absent or
// unreadable), a regular file whose bytes were read whole, or only up to the cap, or something
// that is not a regular file (a FIFO, a device, a folder), which is never read.
struct LocalFile {
    enum class State { None, Whole, Cut, NotRegular };
    State state = State::None;
    std::string bytes;

    // Whether a library that opens the file itself, with no bound of its own, can be handed it:
    // it then finds nothing, or a regular file that ends within the cap.
    bool SafeToHandOver() const { return state == State::None || state == State::Whole; }
};
// With keep false, the file is only looked at and measured: its bytes are not kept.
LocalFile ReadLocalFile(const std::string& path, std::size_t cap = kLocalFileCap, bool keep = true);

// The text of a configuration file, up to the cap, when it is a regular file; empty when it is
// absent, unreadable or anything else.
std::string RegularFileText(const std::string& path);

} // namespace quindral
