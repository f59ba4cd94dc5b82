#pragma once

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

// A configured URI list split into the URIs for the provider: as they are for "LDAP", with the
// global catalog's port for "GC" (3268, 3269 for ldaps://). URIs that name no network host
// (ldapi://) serve no catalog.
std::vector<std::string> UrisForProvider(const std::string& uriList, Provider provider);

} // namespace quindral
