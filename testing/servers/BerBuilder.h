#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quindral::testing {

// BER elements and LDAP replies byte by byte, for servers that a test scripts.

inline std::string Tlv(unsigned char tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    const std::size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        std::string length;
        for (std::size_t rest = n; rest > 0; rest >>= 8) {
            length.insert(length.begin(), static_cast<char>(rest & 0xFF));
        }
        out += static_cast<char>(0x80 | length.size());
        out += length;
    }
    return out + content;
}

inline std::string OctetString(const std::string& text) {
    return Tlv(0x04, text);
}

// An INTEGER (tag 2) in as few bytes as keep its sign.
inline std::string BerInteger(std::int64_t value) {
    std::string bytes;
    do {
        bytes.insert(bytes.begin(), static_cast<char>(value & 0xFF));
        value >>= 8;
    } while (!((value == 0 && !(bytes.front() & 0x80)) || (value == -1 && (bytes.front() & 0x80))));
    return Tlv(0x02, bytes);
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
