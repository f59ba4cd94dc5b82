#include "report/ldap/plumbing/Text.h"

#include <algorithm>
#include <cctype>

#include <algorithm>
#include <cstdint>

namespace quindral {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence that starts at bytes[at], or 0 when none starts there.
std::size_t ValidSequenceLength(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[at + i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0; // no overlong forms
        } else if (lead == 0xED) {
            high = 0x9F; // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F; // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    if (at + length > bytes.size()) {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string ValidUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t length = ValidSequenceLength(bytes, at);
        if (length == 0) {
            text.append(kReplacement);
            ++at;
        } else {
            text.append(bytes.substr(at, length));
            at += length;
        }
    }
    return text;
}

std::string AsciiLowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

bool SameName(std::string_view a, std::string_view b) {
    return AsciiLowerCase(a) == AsciiLowerCase(b);
}

std::string Trimmed(std::string_view text) {
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::vector<std::string> SplitList(std::string_view list, std::string_view separators) {
    std::vector<std::string> items;
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t end = std::min(list.find_first_of(separators, at), list.size());
        std::string item = Trimmed(list.substr(at, end - at));
        if (!item.empty()) {
            items.push_back(std::move(item));
        }
        at = end + 1;
    }
    return items;
}

} // namespace quindral
