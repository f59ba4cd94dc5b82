#pragma once

#include "report/ldap/libldap/Provider.h"
#include "report/ldap/libldap/RootDseSearch.h"

#include <optional>

namespace quindral {

// Finds a server for the provider and reads its root entry, all within one deadline (the
// configured NETWORK_TIMEOUT plus TIMEOUT from the start, libldap's own first use and lookups
// included). The servers come from the OpenLDAP client configuration when it names any (for a
// global catalog, the same hosts on port 3268, or 3269 for ldaps); otherwise from the DNS SRV
// records of the client's domains (ClientDomains), asked at once, the first domain in order whose
// records answer winning. A global catalog is looked for under the forest root, which a domain
// controller of that domain names when the domain itself has no catalog records. Nothing when no
// server answered in time.
std::optional<RootDseEntry> LocateRootDse(Provider provider);

} // namespace quindral
