#pragma once

namespace quindral {

// The two providers a bind path may name: "LDAP" for a directory server, "GC" for a global
// catalog.
enum class Provider { Ldap, GlobalCatalog };

} // namespace quindral
