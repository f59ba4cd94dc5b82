#pragma once

#include "report/ldap/plumbing/Ber.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quindral::testing {

// LDAP replies byte by byte, for servers that a test scripts, in the product's own BER.

inline std::string Tlv(unsigned char tag, const std::string& content) {
    return ber::Element(tag, content);
}

inline std::string OctetString(const std::string& text) {
    return ber::Element(ber::kOctetString, text);
}

inline std::string BerInteger(std::int64_t value) {
    return ber::Integer(value);
}

using Attribute = std::pair<std::string, std::vector<std::string>>;

// A search result entry for the root entry.
inline std::string RootDseEntryMessage(std::int64_t messageId,
                                       const std::vector<Attribute>& attributes) {
    std::string list;
    for (const auto& [name, values] : attributes) {
        std::string set;
        for (const auto& value : values) {
            set += OctetString(value);
        }
        list += Tlv(0x30, OctetString(name) + Tlv(0x31, set));
    }
    return Tlv(0x30, BerInteger(messageId) + Tlv(0x64, OctetString("") + Tlv(0x30, list)));
}

// The entry, then a successful search result done.
inline std::string RootDseReply(std::int64_t messageId, const std::vector<Attribute>& attributes) {
    const std::string done =
        Tlv(0x30, BerInteger(messageId) + Tlv(0x65, Tlv(0x0A, std::string(1, '\0')) +
                                                        OctetString("") + OctetString("")));
    return RootDseEntryMessage(messageId, attributes) + done;
}

} // namespace quindral::testing
