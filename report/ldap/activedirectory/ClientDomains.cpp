#include "report/ldap/activedirectory/ClientDomains.h"

#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"
#include "report/ldap/host/HostName.h"
#include "report/ldap/host/JoinedDomains.h"
#include "report/ldap/host/KerberosRealm.h"
#include "report/ldap/plumbing/Errand.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>
#include <iterator>

namespace quindral {

namespace {

// Whether a realm is one that packaged template krb5.conf files carry (Debian's ATHENA.MIT.EDU,
// EXAMPLE.COM and the like): left there by an installer, never a domain that was joined.
bool IsTemplateRealm(const std::string& realm) {
    static const char* const kTemplates[] = {"athena.mit.edu", "example.com", "example.org",
                                             "example.net",    "domain.com",  "my.domain"};
    const std::string name = AsciiLowerCase(realm);
    return std::any_of(std::begin(kTemplates), std::end(kTemplates),
                       [&](const char* known) { return name == known; });
}

} // namespace

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
    const auto addRealm = [&](const std::string& name) {
        if (IsRealmOfADomain(name)) {
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

namespace {

// What this host reports of the domains it belongs to, each read as its own software reads it:
// the domains of its join, the realms sssd has contacted, its own name's domain (looked up by the
// deadline when it is a bare name), the resolver's search list and Kerberos's default realm, in
// the order of the locator's rule. One libkrb5 context serves the keytab and the realm.
std::vector<std::string> HostDomains(Clock::time_point deadline) {
    const HostFiles files = SystemHostFiles();
    const KerberosContext kerberos = MakeKerberosContext();
    return DomainsToSearch(JoinedDomains(files, kerberos.get()),
                           SssdKdcinfoRealms(files.sssdPublic), HostNameDomain(deadline),
                           ResolverSearchList(), KerberosDefaultRealm(kerberos.get()));
}

} // namespace

// The same, gathered where nothing it may block on can hold the click: libkrb5, libini_config and
// the resolver open files of others (a FIFO, an endless file, a lease) with no bound of their own.
// Not there by the deadline, the host's evidence counts as none.
std::vector<std::string> ClientDomains(Clock::time_point deadline) {
    static Errand<std::vector<std::string>> gathering(HostDomains);
    return gathering.ResultBy(deadline).value_or(std::vector<std::string>{});
}

} // namespace quindral
