#pragma once

#include "DnsSrv.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace quindral {

// One server to ask: its URI (which libldap is given, so that TLS checks the certificate against
// its host name) and where to connect.
struct ServerCandidate {
    std::string uri;
    std::string host; // a name or address to look up; for a local socket, its path
    std::uint16_t port = 0;
    bool tls = false;   // ldaps://
    bool local = false; // ldapi://
};

// The candidate for an LDAP URI (ldap, ldaps or ldapi), or nothing when libldap cannot parse it.
std::optional<ServerCandidate> CandidateOfUri(const std::string& uri);

// The socket address of a numeric IPv4 or IPv6 host (an IPv6 one with its scope,
// "fe80::1%eth0"), which needs no lookup; nothing for a name.
std::optional<sockaddr_storage> NumericAddress(const std::string& host, std::uint16_t port);

// The servers that SRV records name, in the given order.
std::vector<ServerCandidate> CandidatesOfRecords(const std::vector<SrvRecord>& records);

} // namespace quindral
