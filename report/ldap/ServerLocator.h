#pragma once

#include "report/ldap/libldap/Provider.h"
#include "report/ldap/libldap/RootDseSearch.h"

#include <optional>
#include <string_view>

namespace quindral {

// The provider of a bind path, which must be exactly "LDAP://rootDSE" or "GC://rootDSE".
std::optional<Provider> ProviderOfBindPath(std::string_view path);

// Finds a server for the provider and reads its root entry, all within one deadline (the
// configured NETWORK_TIMEOUT plus TIMEOUT, from the start, libldap's own first use and lookups
// included). The servers are those of the OpenLDAP client configuration (a global catalog on the
// same hosts, port 3268, or 3269 for ldaps), else those that the DNS SRV records of the host's
// domain name; a global catalog is looked for under the forest root, which a domain controller of
// the host's domain names when the domain itself has no catalog records. Nothing when no server
// answered in time.
std::optional<RootDseEntry> LocateRootDse(Provider provider);

} // namespace quindral
