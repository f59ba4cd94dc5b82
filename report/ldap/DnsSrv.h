#pragma once

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

// The host's DNS domain: the domain part of its fully qualified name, else the resolver's own
// domain or first search entry. Nothing when none is known.
std::optional<std::string> HostDnsDomain();

// The SRV records of a name, as the system's resolver finds them; none on any failure. Records
// whose target is "." (the service is decidedly not offered there) are left out.
std::vector<SrvRecord> QuerySrvRecords(const std::string& name);

// The order in which to try the targets (RFC 2782): lowest priority first; within one priority a
// weighted random order, where random(n) returns a number from 0 to n inclusive.
std::vector<SrvRecord> OrderSrvRecords(std::vector<SrvRecord> records,
                                       const std::function<std::uint32_t(std::uint32_t)>& random);

} // namespace quindral
