#include "report/ldap/libldap/LdapConfiguration.h"

#include "report/ldap/libldap/ServerCandidate.h"

#include <algorithm>
#include <ldap.h>
#include <string_view>

namespace quindral {

namespace {

// What libldap reports as its default URI when no configuration names one.
constexpr std::string_view kBuiltInDefaultUri = "ldap://localhost:389/??base";

std::optional<std::chrono::microseconds> ConfiguredTimeout(int option) {
    struct timeval* value = nullptr;
    if (ldap_get_option(nullptr, option, &value) != LDAP_OPT_SUCCESS || value == nullptr) {
        return std::nullopt;
    }
    const auto timeout =
        std::chrono::seconds(value->tv_sec) + std::chrono::microseconds(value->tv_usec);
    ldap_memfree(value);
    if (timeout <= std::chrono::microseconds::zero()) {
        return std::nullopt;
    }
    return timeout;
}

} // namespace

std::optional<std::string> ConfiguredUriList() {
    char* uri = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_URI, &uri) != LDAP_OPT_SUCCESS || uri == nullptr) {
        return std::nullopt;
    }
    std::string list(uri);
    ldap_memfree(uri);
    if (list.empty() || list == kBuiltInDefaultUri) {
        return std::nullopt;
    }
    return list;
}

std::vector<std::string> UrisForProvider(const std::string& uriList, Provider provider) {
    std::vector<std::string> uris;
    std::size_t at = 0;
    while (at < uriList.size()) {
        const std::size_t start = uriList.find_first_not_of(" \t,", at);
        if (start == std::string::npos) {
            break;
        }
        const std::size_t end = std::min(uriList.find_first_of(" \t,", start), uriList.size());
        const std::string one = uriList.substr(start, end - start);
        at = end;

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

ServerTimeouts EffectiveTimeouts() {
    return ServerTimeouts{
        ConfiguredTimeout(LDAP_OPT_NETWORK_TIMEOUT).value_or(kDefaultTimeouts.connect),
        ConfiguredTimeout(LDAP_OPT_TIMEOUT).value_or(kDefaultTimeouts.search),
    };
}

} // namespace quindral
