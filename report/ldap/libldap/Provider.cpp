#include "report/ldap/libldap/Provider.h"

namespace quindral {

std::optional<Provider> ProviderOfBindPath(std::string_view path) {
    if (path == "LDAP://rootDSE") {
        return Provider::Ldap;
    }
    if (path == "GC://rootDSE") {
        return Provider::GlobalCatalog;
    }
    return std::nullopt;
}

} // namespace quindral
