#pragma once

#include "report/ldap/plumbing/Clock.h"

#include <optional>
#include <string>
#include <vector>

namespace quindral {

// The DNS domain of a host name: what follows its first dot, without a trailing dot. Nothing for a
// name with no domain part.
std::optional<std::string> DomainPart(const std::string& hostName);

// The DNS domains in which this client looks for its directory servers, best first, as a Linux host
// joined to Active Directory is found by its own tools: the Kerberos default realm, in lower case
// (an AD domain's realm is its DNS name in capitals), passed over unless it is a DNS name of
// letters, digits, hyphens and dots; then the domain of the host's own name; then each entry of
// the resolver's search list. Each domain once, whatever its case.
std::vector<std::string> DomainsToSearch(const std::optional<std::string>& realm,
                                         const std::optional<std::string>& hostDomain,
                                         const std::vector<std::string>& searchList);

// The domains as this host's configuration gives them: Kerberos's default realm, the domain part of
// the host's fully qualified name (from the hosts file or DNS, looked up by the deadline), and the
// resolver's search list (or its domain).
std::vector<std::string> ClientDomains(Clock::time_point deadline);

} // namespace quindral
