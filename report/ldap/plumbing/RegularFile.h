#pragma once

#include <string>

namespace quindral {

// The text of a configuration file, when it is a regular file of at most 1 MiB; empty when it is
// absent, unreadable or anything else (a FIFO, a device). It never waits on what stands there.
std::string RegularFileText(const std::string& path);

} // namespace quindral
