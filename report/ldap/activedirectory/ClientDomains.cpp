#include "report/ldap/activedirectory/ClientDomains.h"

#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>
#include <iterator>

namespace quindral {

std::vector<std::string> DomainsToSearch(const std::vector<std::string>& joined,
                                         const std::vector<std::string>& sssdContacted,
                                         const std::optional<std::string>& hostDomain,
                                         const std::vector<std::string>& searchList,
                                         const std::optional<std::string>& realm) {
    std::vector<std::string> domains;
    const auto add = [&](std::string domain) {
        if (!domain.empty() && domain.back() == '.') {
            domain.pop_back();
        }
        if (!domain.empty() && std::none_of(domains.begin(), domains.end(), [&](const auto& known) {
                return SameName(known, domain);
            })) {
            domains.push_back(std::move(domain));
        }
    };
    // A realm names a domain, whose DNS name has no underscore.
    const auto addRealm = [&](const std::string& name) {
        if (IsDnsName(name) && name.find('_') == std::string::npos) {
            add(AsciiLowerCase(name));
        }
    };
    const bool realmCounts = realm && !IsTemplateRealm(*realm);
    std::for_each(joined.begin(), joined.end(), addRealm);
    if (realmCounts &&
        std::any_of(sssdContacted.begin(), sssdContacted.end(),
                    [&](const std::string& served) { return SameName(served, *realm); })) {
        addRealm(*realm);
    }
    if (hostDomain) {
        add(*hostDomain);
    }
    std::for_each(searchList.begin(), searchList.end(), add);
    if (realmCounts) {
        addRealm(*realm);
    }
    std::for_each(sssdContacted.begin(), sssdContacted.end(), addRealm);
    return domains;
}

bool IsTemplateRealm(const std::string& realm) {
    static const char* const kTemplates[] = {"athena.mit.edu", "example.com", "example.org",
                                             "example.net",    "domain.com",  "my.domain"};
    const std::string name = AsciiLowerCase(realm);
    return std::any_of(std::begin(kTemplates), std::end(kTemplates),
                       [&](const char* known) { return name == known; });
}

} // namespace quindral
