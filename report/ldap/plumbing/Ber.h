#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quindral::ber {

// The few BER (X.690) pieces that LDAP messages made or read by hand need: definite lengths only,
// as LDAP allows.

inline constexpr unsigned char kBoolean = 0x01;
inline constexpr unsigned char kInteger = 0x02;
inline constexpr unsigned char kOctetString = 0x04;
inline constexpr unsigned char kEnumerated = 0x0A;
inline constexpr unsigned char kSequence = 0x30;
inline constexpr unsigned char kSet = 0x31;

// One element: the tag, the content's length in as few bytes as it takes, the content.
std::string Element(unsigned char tag, std::string_view content);

// An integer (or, with its tag, an enumerated value) in as few bytes as keep its sign.
std::string Integer(std::int64_t value, unsigned char tag = kInteger);

// The value of an integer's content, when it fits in five bytes.
std::optional<std::int64_t> IntegerValue(std::string_view content);

// Reads elements off the front of a span of bytes.
class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}

    bool Empty() const { return rest_.empty(); }
    std::string_view Rest() const { return rest_; }

    // The next element, when it is whole.
    bool Next(unsigned char& tag, std::string_view& content);
    // The next element's content, when it is whole and has this tag.
    bool Expect(unsigned char expected, std::string_view& content);

private:
    std::string_view rest_;
};

// The size of the element at the start of the bytes, header included; 0 while it is incomplete.
std::size_t CompleteElementSize(std::string_view bytes);

} // namespace quindral::ber
