#pragma once

#include "report/ldap/plumbing/DnsSrv.h"

#include <cstdint>
#include <optional>
#include <string>
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

// The servers that SRV records name, in the given order.
std::vector<ServerCandidate> CandidatesOfRecords(const std::vector<SrvRecord>& records);

} // namespace quindral
