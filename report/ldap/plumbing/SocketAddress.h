#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/socket.h>

namespace quindral {

// The socket address of a numeric IPv4 or IPv6 host (an IPv6 one with its scope,
// "fe80::1%eth0"), which needs no lookup; nothing for a name.
std::optional<sockaddr_storage> NumericAddress(const std::string& host, std::uint16_t port);

// The address of a local (ldapi://) socket at the path; nothing when the path does not fit.
std::optional<sockaddr_storage> LocalSocketAddress(const std::string& path);

// The same IPv4 or IPv6 address with another port.
sockaddr_storage WithPort(sockaddr_storage address, std::uint16_t port);

// Whether two addresses are the same endpoint: family, address, port (and an IPv6 one's scope),
// or a local socket's path.
bool SameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b);

// The length that connect() takes for the address's family.
socklen_t AddressLength(const sockaddr_storage& address);

} // namespace quindral
