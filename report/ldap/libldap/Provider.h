#pragma once

#include <optional>
#include <string_view>

namespace quindral {

// The two providers a bind path may name: "LDAP" for a directory server, "GC" for a global
// catalog.
enum class Provider { Ldap, GlobalCatalog };

// The provider of a bind path, which must be exactly "LDAP://rootDSE" or "GC://rootDSE".
std::optional<Provider> ProviderOfBindPath(std::string_view path);

} // namespace quindral
