#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quindral {

struct SrvRecord {
    std::uint16_t priority = 0;
    std::uint16_t weight = 0;
    std::uint16_t port = 0;
    std::string target;

    friend bool operator==(const SrvRecord&, const SrvRecord&) = default;
};

// The SRV records in the answer section of a DNS reply. A record whose target name does not lie
// wholly inside the record's own data is skipped, and so is a target of "." (the service is
// decidedly not offered there); a reply that cannot be parsed gives none.
std::vector<SrvRecord> ParseSrvAnswer(const unsigned char* reply, std::size_t length);

// The order in which to try the targets (RFC 2782): lowest priority first; within one priority a
// weighted random order, where random(n) returns a number from 0 to n inclusive.
std::vector<SrvRecord> OrderSrvRecords(std::vector<SrvRecord> records,
                                       const std::function<std::uint32_t(std::uint32_t)>& random);

} // namespace quindral
