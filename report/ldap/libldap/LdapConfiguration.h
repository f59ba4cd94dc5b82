#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
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

// NETWORK_TIMEOUT and TIMEOUT, or their defaults of 5 s and 15 s.
ServerTimeouts EffectiveTimeouts();

// NETWORK_TIMEOUT and TIMEOUT as libldap will read them at its first use, read without libldap,
// which looks this host's name up before it reads its configuration: a hosts source that hangs
// there must not hold back what bounds the click. The files and variables in libldap's own order,
// each later one overriding: the system's ldap.conf; the user's ldaprc files (HOME/ldaprc,
// HOME/.ldaprc, ./ldaprc), but not for a set-user-ID program; LDAPCONF's file; LDAPRC's files, as
// ldaprc's; LDAPNETWORK_TIMEOUT and LDAPTIMEOUT. Nothing but the defaults with LDAPNOINIT. Only
// regular files are read, without waiting on anything else.
ServerTimeouts
TimeoutsBeforeFirstUse(const std::function<const char*(const char*)>& environment = std::getenv,
                       const std::string& systemFile = "/etc/ldap/ldap.conf");

} // namespace quindral
