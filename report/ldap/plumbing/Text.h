#pragma once

#include <string>
#include <string_view>

namespace quindral {

// Text from the network: kept as valid UTF-8, compared without regard to ASCII case.

// The bytes as UTF-8 text: valid sequences are kept as they are, and every byte sequence that is
// not valid UTF-8 (a stray byte, a truncated, overlong or surrogate sequence) becomes U+FFFD, so a
// value never carries broken text into the pane or the log file.
std::string ValidUtf8(std::string_view bytes);

// The text with the ASCII capitals lowered and every other byte kept, whatever the process
// locale: LDAP attribute names and DNS names compare without regard to case by ASCII alone.
std::string AsciiLowerCase(std::string_view text);

} // namespace quindral
