#pragma once

#include "report/ldap/libldap/Provider.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quindral {

// How long one server may take: to connect to one of its addresses, TLS handshake included
// (NETWORK_TIMEOUT of the OpenLDAP client configuration, else 5 s), and to answer the search once
// connected (TIMEOUT, else 15 s). Their sum is also the bound on a whole bind, lookups included.
struct ServerTimeouts {
    std::chrono::microseconds connect;
    std::chrono::microseconds search;
};

// libldap's own defaults, when the configuration sets neither.
inline constexpr ServerTimeouts kDefaultTimeouts{std::chrono::seconds(5), std::chrono::seconds(15)};

// What the OpenLDAP client configuration says (ldap.conf, ldaprc, LDAPURI, LDAPNETWORK_TIMEOUT
// and the rest, as libldap read them when first used).

// The URIs it names, or nothing when it names none and libldap would fall back on its built-in
// localhost.
std::optional<std::string> ConfiguredUriList();

// The configured URI list split into the URIs for the provider: as they are for "LDAP", with the
// global catalog's port for "GC". URIs that name no network host (ldapi://) serve no catalog.
std::vector<std::string> UrisForProvider(const std::string& uriList, Provider provider);

// NETWORK_TIMEOUT and TIMEOUT, or their defaults of 5 s and 15 s.
ServerTimeouts EffectiveTimeouts();

} // namespace quindral
