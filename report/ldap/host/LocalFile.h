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
LocalFile ReadLocalFile(const std::string& path, std::size_t cap = kLocalFileCap);
// The same, the file only looked at and measured: its bytes are not kept, so that an endless file
// costs no memory.
LocalFile LookAtLocalFile(const std::string& path, std::size_t cap = kLocalFileCap);

// What one walk of a configuration's files may read in all (Kerberos's includes, sssd's
// snippets): a configuration that takes more counts as unreadable, so that a folder of 100,000
// files or includes that fan out cost a click little.
class ReadBudget {
public:
    // Counts one more file; false once the walk is past its budget of files.
    bool TakeFile() { return ++files_ <= kFiles; }
    // Counts a file's bytes; false once the walk is past its budget of bytes.
    bool TakeBytes(std::size_t size) {
        bytes_ += size;
        return bytes_ <= kBytes;
    }

    static constexpr std::size_t kFiles = 256;
    static constexpr std::size_t kBytes = std::size_t{4} << 20;

private:
    std::size_t files_ = 0;
    std::size_t bytes_ = 0;
};

// The text of a configuration file, up to the cap, when it is a regular file; empty when it is
// absent, unreadable or anything else.
std::string RegularFileText(const std::string& path);

} // namespace quindral
