#include "report/ldap/activedirectory/Provider.h"

#include "report/ldap/libldap/ServerCandidate.h"
#include "report/ldap/plumbing/Text.h"

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

std::vector<std::string> UrisForProvider(const std::string& uriList, Provider provider) {
    std::vector<std::string> uris;
    for (const std::string& one : SplitList(uriList, " \t,")) {
        const auto parts = ParseUri(one);
        if (!parts) {
            continue;
        }
        if (provider == Provider::Ldap) {
            uris.push_back(one);
        } else if (parts->scheme == "ldap" || parts->scheme == "ldaps") {
            uris.push_back(
                UriOf(parts->scheme, parts->host, parts->scheme == "ldaps" ? 3269 : 3268));
        }
    }
    return uris;
}

} // namespace quindral
