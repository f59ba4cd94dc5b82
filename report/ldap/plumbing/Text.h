#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quindral {

// Text from the network and from configuration files: kept as valid UTF-8, compared without
// regard to ASCII case, trimmed and split.

// The bytes as UTF-8 text: valid sequences are kept as they are, and every byte sequence that is
// not valid UTF-8 (a stray byte, a truncated, overlong or surrogate sequence) becomes U+FFFD, so a
// value never carries broken text into the pane or the log file.
std::string ValidUtf8(std::string_view bytes);

// The text with the ASCII capitals lowered and every other byte kept, whatever the process
// locale: LDAP attribute names and DNS names compare without regard to case by ASCII alone.
std::string AsciiLowerCase(std::string_view text);

// Whether two names are the same but for ASCII case, as DNS and LDAP names compare.
bool SameName(std::string_view a, std::string_view b);

// The text without the white space at its ends.
std::string Trimmed(std::string_view text);

// The items of a list that any of the separators part, each trimmed; empty items are dropped.
std::vector<std::string> SplitList(std::string_view list, std::string_view separators = ",");

} // namespace quindral
