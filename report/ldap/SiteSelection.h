#pragma once

#include "LdapPing.h"
#include "Provider.h"

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

// Whether a reply may decide: a global catalog must say that it is one.
bool IsUsableReply(const NetlogonReply& reply, Provider provider);

// Whether a site name from the network may go into a DNS name: one label of 1 to 63 bytes, with
// no dot, backslash, control or NUL byte.
bool IsSiteLabel(std::string_view site);

// The client's site, when the servers registered for it are to be looked up: the deciding DC does
// not cover it and it is a name that may go into a DNS query. Nothing otherwise.
std::optional<std::string> SiteToLookUp(const NetlogonReply& deciding);

// The SRV names under which the site's servers for the provider stand, best first; domain is the
// domain's DNS name, or for a catalog the forest's.
std::vector<std::string> SiteSrvNamesFor(Provider provider, const std::string& site,
                                         const std::string& domain);

// The order in which to connect to servers, by their index: the site's servers in their own
// order, then the servers that answered a ping in the order they answered, then the others in
// theirs. Each server once; the unfit (answered, but cannot serve) not at all.
std::vector<std::size_t> ConnectOrder(std::size_t serverCount,
                                      const std::vector<std::size_t>& siteServers,
                                      const std::vector<std::size_t>& answered,
                                      const std::vector<std::size_t>& unfit);

} // namespace quindral
