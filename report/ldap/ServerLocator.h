#pragma once

#include "RootDseReader.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quindral {

// The two providers a bind path may name: "LDAP" for a directory server, "GC" for a global
// catalog.
enum class Provider { Ldap, GlobalCatalog };

// The provider of a bind path, which must be exactly "LDAP://rootDSE" or "GC://rootDSE".
std::optional<Provider> ProviderOfBindPath(std::string_view path);

// Finds a server for the provider and reads its root entry, all within one deadline (the
// configured NETWORK_TIMEOUT plus TIMEOUT, from the start, lookups included). The servers are
// those of the OpenLDAP client configuration (a global catalog on the same hosts, port 3268, or
// 3269 for ldaps), else those that the DNS SRV records of the host's domain name; a global
// catalog is looked for under the forest root, which a domain controller of the host's domain
// names when the domain itself has no catalog records. Nothing when no server answered in time.
std::optional<RootDseEntry> LocateRootDse(Provider provider);

// The URIs that the OpenLDAP client configuration names (ldap.conf, ldaprc, LDAPURI and the rest,
// as libldap read them), or nothing when it names none and libldap would fall back on its
// built-in localhost.
std::optional<std::string> ConfiguredUriList();

// The configured URI list split into the URIs for the provider: as they are for "LDAP", with the
// global catalog's port for "GC". URIs that name no network host (ldapi://) serve no catalog.
std::vector<std::string> UrisForProvider(const std::string& uriList, Provider provider);

// The SRV names under which a domain publishes the provider's servers, best first.
std::vector<std::string> SrvNamesFor(Provider provider, const std::string& domain);

// The DNS name of a naming context made of domain components ("DC=a,DC=b" is "a.b"); nothing when
// it has none.
std::optional<std::string> DnsNameOfNamingContext(std::string_view distinguishedName);

} // namespace quindral
