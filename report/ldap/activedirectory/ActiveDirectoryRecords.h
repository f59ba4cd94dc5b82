#pragma once

#include "report/ldap/activedirectory/Provider.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quindral {

// The DNS names under which Active Directory registers its servers, and the checks that a name
// from the network passes before it goes into one.

// The SRV names under which a domain publishes the provider's servers, best first; for a global
// catalog, domain is the forest's DNS name (catalogs are registered under the forest root only).
std::vector<std::string> SrvNamesFor(Provider provider, const std::string& domain);

// The SRV names under which a site's servers for the provider stand, best first.
std::vector<std::string> SiteSrvNamesFor(Provider provider, const std::string& site,
                                         const std::string& domain);

// Whether a site name may go into a DNS name: one label of 1 to 63 bytes, with no dot, backslash
// (c-ares reads escapes in names), control, DEL or NUL byte.
bool IsSiteLabel(std::string_view site);

// Whether a name is a DNS domain name: labels of letters, digits, hyphens and underscores, 1 to 63
// bytes each, at most 253 bytes in all, with no trailing dot.
bool IsDnsName(std::string_view name);

// Whether a Kerberos realm names a DNS domain: a DNS name, as above, without an underscore (an AD
// domain's realm is its DNS name in capitals, and a domain's name has no underscore).
bool IsRealmOfADomain(std::string_view realm);

// The DNS name of a naming context made of domain components ("DC=a,DC=b" is "a.b"); nothing when
// it has none.
std::optional<std::string> DnsNameOfNamingContext(std::string_view distinguishedName);

} // namespace quindral
