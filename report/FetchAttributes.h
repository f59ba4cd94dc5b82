#pragma once

#include "Directory.h"
#include "trace/LogTrace.h"

#include <string_view>

namespace quindral {

// The fetch run: binds "<providerPrefix>://rootDSE", reads the root entry's attributes in a fixed
// order and writes the report through the trace sink, one line at a time. A step that fails (the
// bind, a read, a conversion to text) is passed over silently: its line is missing, and the run
// goes on with the next step. The prefix is used as given.
void FetchAttributes(std::string_view providerPrefix, Directory& directory,
                     TraceSink& trace) noexcept;

} // namespace quindral
