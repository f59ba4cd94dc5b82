#include "report/ldap/activedirectory/ClientDomains.h"

#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"
#include "report/ldap/activedirectory/JoinedDomains.h"
#include "report/ldap/activedirectory/KerberosRealm.h"
#include "report/ldap/plumbing/AsyncResolver.h"
#include "report/ldap/plumbing/DnsSrv.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <resolv.h>
#include <unistd.h>

namespace quindral {

namespace {

// The domain of the host's own name: what follows its first dot, the name looked up first when
// it is a bare one.
std::optional<std::string> HostNameDomain(Clock::time_point deadline) {
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return std::nullopt;
    }
    std::string name(host);
    if (name.find('.') == std::string::npos) {
        AsyncResolver resolver;
        bool answered = false;
        resolver.LookupCanonicalName(name, [&](std::optional<std::string> canonical) {
            answered = true;
            if (canonical) {
                name = std::move(*canonical);
            }
        });
        RunPollLoop(resolver, deadline, [&] { return answered || !resolver.Busy(); });
    }
    return DomainPart(name);
}

// The resolver's search list, as resolv.conf (or LOCALDOMAIN) sets it; its domain when it has none.
std::vector<std::string> ResolverSearchList() {
    std::vector<std::string> list;
    struct __res_state state {};
    if (res_ninit(&state) == 0) {
        for (const char* entry : state.dnsrch) {
            if (entry == nullptr) {
                break;
            }
            list.emplace_back(entry);
        }
        if (list.empty() && state.defdname[0] != '\0') {
            list.emplace_back(state.defdname);
        }
    }
    res_nclose(&state);
    return list;
}

} // namespace

std::vector<std::string> DomainsToSearch(const std::vector<std::string>& joined,
                                         const std::optional<std::string>& realm,
                                         const std::optional<std::string>& hostDomain,
                                         const std::vector<std::string>& searchList) {
    std::vector<std::string> domains;
    const auto add = [&](std::string domain) {
        if (!domain.empty() && domain.back() == '.') {
            domain.pop_back();
        }
        const std::string key = AsciiLowerCase(domain);
        if (!domain.empty() && std::none_of(domains.begin(), domains.end(), [&](const auto& known) {
                return AsciiLowerCase(known) == key;
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
    std::for_each(joined.begin(), joined.end(), addRealm);
    if (hostDomain) {
        add(*hostDomain);
    }
    std::for_each(searchList.begin(), searchList.end(), add);
    if (realm && !IsTemplateRealm(*realm)) {
        addRealm(*realm);
    }
    return domains;
}

bool IsTemplateRealm(const std::string& realm) {
    static const char* const kTemplates[] = {"athena.mit.edu", "example.com", "example.org",
                                             "example.net",    "domain.com",  "my.domain"};
    const std::string name = AsciiLowerCase(realm);
    return std::any_of(std::begin(kTemplates), std::end(kTemplates),
                       [&](const char* known) { return name == known; });
}

std::vector<std::string> ClientDomains(Clock::time_point deadline) {
    return DomainsToSearch(JoinedDomains(), KerberosDefaultRealm(), HostNameDomain(deadline),
                           ResolverSearchList());
}

std::optional<std::string> DomainPart(const std::string& hostName) {
    const auto dot = hostName.find('.');
    if (dot == std::string::npos || dot + 1 >= hostName.size()) {
        return std::nullopt;
    }
    std::string domain = hostName.substr(dot + 1);
    if (domain.back() == '.') {
        domain.pop_back();
    }
    return domain.empty() ? std::nullopt : std::optional(domain);
}

} // namespace quindral
