#pragma once

#include "report/ldap/activedirectory/LdapPing.h"
#include "report/ldap/activedirectory/Provider.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quindral {

// How the first usable answer to an LDAP ping decides which domain controller to connect to, as
// the Windows locator decides: a DC that covers the client's site (or a client in no known site)
// keeps the order, answering DCs first; otherwise the DCs registered for the client's site come
// first.

// Whether a reply may decide. A DC pinged for a domain must answer for that domain (ignoring
// case); a global catalog must say that it is one. Where the reply's forest is used (the site
// records of a catalog stand under it, and a race that wants only the forest takes it as the DNS
// name of the catalogs' records), it must be a DNS name.
bool IsUsableReply(const NetlogonReply& reply, const PingPlan& plan);

// The client's site, when the servers registered for it are to be looked up: the deciding DC does
// not cover it and it is a name that may go into a DNS query. Nothing otherwise.
std::optional<std::string> SiteToLookUp(const NetlogonReply& deciding);

// The order in which to connect to servers, by their index: the site's servers in their own
// order, then the servers that answered a ping in the order they answered, then the others in
// theirs. Each server once; the unfit (answered, but cannot serve) not at all.
std::vector<std::size_t> ConnectOrder(std::size_t serverCount,
                                      const std::vector<std::size_t>& siteServers,
                                      const std::vector<std::size_t>& answered,
                                      const std::vector<std::size_t>& unfit);

} // namespace quindral
