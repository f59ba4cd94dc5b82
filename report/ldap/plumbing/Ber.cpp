#include "report/ldap/plumbing/Ber.h"

namespace quindral::ber {

std::string Element(unsigned char tag, std::string_view content) {
    std::string out(1, static_cast<char>(tag));
    if (content.size() < 0x80) {
        out += static_cast<char>(content.size());
    } else {
        std::string length;
        for (std::size_t rest = content.size(); rest > 0; rest >>= 8) {
            length.insert(length.begin(), static_cast<char>(rest & 0xFF));
        }
        out += static_cast<char>(0x80 | length.size());
        out += length;
    }
    out += content;
    return out;
}

std::string Integer(std::int64_t value, unsigned char tag) {
    // Two's complement, in as few bytes as keep the sign.
    std::string bytes;
    do {
        bytes.insert(bytes.begin(), static_cast<char>(value & 0xFF));
        value >>= 8;
    } while (!((value == 0 && (bytes.front() & 0x80) == 0) ||
               (value == -1 && (bytes.front() & 0x80) != 0)));
    return Element(tag, bytes);
}

std::optional<std::int64_t> IntegerValue(std::string_view content) {
    if (content.empty() || content.size() > 5) {
        return std::nullopt;
    }
    std::int64_t value = static_cast<signed char>(content[0]);
    for (std::size_t i = 1; i < content.size(); ++i) {
        value = value * 256 + static_cast<unsigned char>(content[i]);
    }
    return value;
}

bool Reader::Next(unsigned char& tag, std::string_view& content) {
    if (rest_.size() < 2) {
        return false;
    }
    tag = static_cast<unsigned char>(rest_[0]);
    std::size_t length = static_cast<unsigned char>(rest_[1]);
    std::size_t header = 2;
    if (length & 0x80) {
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || rest_.size() < 2 + count) {
            return false;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8) | static_cast<unsigned char>(rest_[2 + i]);
        }
        header += count;
    }
    if (length > rest_.size() - header) {
        return false;
    }
    content = rest_.substr(header, length);
    rest_.remove_prefix(header + length);
    return true;
}

bool Reader::Expect(unsigned char expected, std::string_view& content) {
    unsigned char tag = 0;
    return Next(tag, content) && tag == expected;
}

std::size_t CompleteElementSize(std::string_view bytes) {
    Reader reader(bytes);
    unsigned char tag = 0;
    std::string_view content;
    return reader.Next(tag, content) ? bytes.size() - reader.Rest().size() : 0;
}

} // namespace quindral::ber
