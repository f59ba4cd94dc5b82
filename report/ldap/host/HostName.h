#pragma once

#include "report/ldap/plumbing/Clock.h"

#include <optional>
#include <string>
#include <vector>

namespace quindral {

// The DNS domain of a host name: what follows its first dot, without a trailing dot. Nothing for a
// name with no domain part.
std::optional<std::string> DomainPart(const std::string& hostName);

// The domain of this host's own name: the domain part of its fully qualified name, a bare name
// looked up first (the hosts file, then DNS) until the deadline at most.
std::optional<std::string> HostNameDomain(Clock::time_point deadline);

// The resolver's search list, as resolv.conf (or LOCALDOMAIN) sets it; its domain when it has none.
std::vector<std::string> ResolverSearchList();

} // namespace quindral
