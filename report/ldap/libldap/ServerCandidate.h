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
    // A name from an SRV record, which names a host absolutely: looked up as it stands, never under
    // the resolver's search list (a search domain that does not answer must not hold it).
    bool absolute = false;
};

// An LDAP URI as libldap parses it: "ldap" where it names no scheme, and a network URI that names
// no host is libldap's localhost.
struct UriParts {
    std::string scheme;
    std::string host;
    int port = 0; // 0: none named
};
std::optional<UriParts> ParseUri(const std::string& uri);

// scheme://host:port, an IPv6 address in brackets; without a port when port is 0.
std::string UriOf(const std::string& scheme, const std::string& host, int port);

// The candidate for an LDAP URI (ldap, ldaps or ldapi), or nothing when libldap cannot parse it.
std::optional<ServerCandidate> CandidateOfUri(const std::string& uri);

// The servers that SRV records name, in the given order.
std::vector<ServerCandidate> CandidatesOfRecords(const std::vector<SrvRecord>& records);

} // namespace quindral
