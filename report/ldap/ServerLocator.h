#pragma once

#include "report/ldap/activedirectory/Provider.h"
#include "report/ldap/libldap/RootDseSearch.h"

#include <optional>

namespace quindral {

// Finds a server for the provider and reads its root entry, all within one deadline (the
// configured NETWORK_TIMEOUT plus TIMEOUT from the start, libldap's own first use and lookups
// included). The servers come from the OpenLDAP client configuration when it names any (for a
// global catalog, the same hosts on port 3268, or 3269 for ldaps); otherwise from the DNS SRV
// records of the client's domains (what the host reports, in the order of DomainsToSearch), all
// asked at once: every domain's Active Directory records before any plain _ldap._tcp, the best
// name whose records answer winning once every better one has answered or a stagger has passed,
// and the next domain that has records when the chosen one leads nowhere. A global catalog is
// looked for under the forest root, which a domain controller of that domain names when the
// domain itself has no catalog records. Nothing when no server answered in time.
std::optional<RootDseEntry> LocateRootDse(Provider provider);

} // namespace quindral
