#pragma once

#include <chrono>
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

// The servers to ask for the provider, as LDAP URIs in the order to try them: those of the
// OpenLDAP client configuration (a global catalog on the same hosts, port 3268, or 3269 for
// ldaps), else those that the DNS SRV records of the host's domain name. Empty when neither names
// a server.
std::vector<std::string> LocateServers(Provider provider);

// The URIs that the OpenLDAP client configuration names (ldap.conf, ldaprc, LDAPURI and the rest,
// as libldap read them), or nothing when it names none and libldap would fall back on its
// built-in localhost.
std::optional<std::string> ConfiguredUriList();

// The configured URI list split into the URIs for the provider: as they are for "LDAP", with the
// global catalog's port for "GC". URIs that name no network host (ldapi://) serve no catalog.
std::vector<std::string> UrisForProvider(const std::string& uriList, Provider provider);

// How long to wait: the configured NETWORK_TIMEOUT and TIMEOUT, else 5 s to connect to each address
// and 15 s for the search.
struct ServerTimeouts {
    std::chrono::microseconds connect;
    std::chrono::microseconds search;
};
ServerTimeouts EffectiveTimeouts();

} // namespace quindral
