#include "report/ldap/ServerLocator.h"

#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"
#include "report/ldap/activedirectory/ClientDomains.h"
#include "report/ldap/activedirectory/DnsDiscovery.h"
#include "report/ldap/libldap/LdapConfiguration.h"
#include "report/ldap/libldap/LibldapFirstUse.h"
#include "report/ldap/plumbing/Text.h"
#include "report/ldap/race/RootDseRace.h"

namespace quindral {

namespace {

RaceResult Race(std::vector<ServerCandidate> servers, const ServerTimeouts& timeouts,
                Clock::time_point deadline, std::optional<PingPlan> pingPlan = std::nullopt) {
    if (servers.empty()) {
        return {};
    }
    RootDseRace race(timeouts, deadline, std::move(pingPlan));
    return race.Run(std::move(servers));
}

// The forest of a domain, as one of its domain controllers says: in its answer to a ping (when
// they are Active Directory's own records, and so pinged), else in its root entry.
std::optional<std::string> ForestOf(const std::string& domain,
                                    std::vector<ServerCandidate> controllers, bool pinged,
                                    const ServerTimeouts& timeouts, Clock::time_point deadline) {
    const auto controller =
        Race(std::move(controllers), timeouts, deadline,
             pinged ? std::optional(PingPlan{domain, Provider::Ldap, /*replyIsEnough=*/true})
                    : std::nullopt);
    if (controller.reply) {
        return controller.reply->dnsForestName; // a DNS name, or the reply would not have counted
    }
    const auto* root =
        controller.entry ? controller.entry->Find("rootDomainNamingContext") : nullptr;
    const auto forest = root != nullptr && !root->values.empty()
                            ? DnsNameOfNamingContext(root->values.front())
                            : std::nullopt;
    return forest && IsDnsName(*forest) ? forest : std::nullopt;
}

// The SRV names asked of each domain, best first: the provider's; for a global catalog, the domain
// controllers' after them, which name the forest when the domain registers no catalogs of its own
// (catalogs are registered under the forest root only).
std::vector<std::string> NamesToAsk(Provider provider, const std::string& domain) {
    auto names = SrvNamesFor(provider, domain);
    if (provider == Provider::GlobalCatalog) {
        const auto controllers = SrvNamesFor(Provider::Ldap, domain);
        names.insert(names.end(), controllers.begin(), controllers.end());
    }
    return names;
}

std::optional<RootDseEntry> LocateThroughDns(Provider provider, const ServerTimeouts& timeouts,
                                             Clock::time_point deadline) {
    const auto domains = ClientDomains(deadline);
    if (domains.empty()) {
        return std::nullopt;
    }
    // Every domain's names at once: the first domain, in order, whose records answer wins.
    std::vector<std::string> names;
    for (const auto& domain : domains) {
        const auto own = NamesToAsk(provider, domain);
        names.insert(names.end(), own.begin(), own.end());
    }
    auto found = ServersFromSrv(names, deadline);
    if (!found) {
        return std::nullopt;
    }
    const std::size_t namesPerDomain = names.size() / domains.size();
    const std::string& domain = domains[found->nameIndex / namesPerDomain];
    const std::size_t name = found->nameIndex % namesPerDomain;
    // The provider's own records. Those of Active Directory (all but "_ldap._tcp.<domain>", which
    // any LDAP server may stand in) name domain controllers, pinged first as the Windows locator
    // pings them.
    const std::size_t ownNames = SrvNamesFor(provider, domain).size();
    if (name < ownNames) {
        const bool pinged = provider == Provider::GlobalCatalog || name == 0;
        return Race(std::move(found->servers), timeouts, deadline,
                    pinged ? std::optional(PingPlan{domain, provider}) : std::nullopt)
            .entry;
    }
    const auto forest =
        ForestOf(domain, std::move(found->servers), name == ownNames, timeouts, deadline);
    if (!forest || AsciiLowerCase(*forest) == AsciiLowerCase(domain)) {
        return std::nullopt;
    }
    auto catalogs = ServersFromSrv(SrvNamesFor(Provider::GlobalCatalog, *forest), deadline);
    if (!catalogs) {
        return std::nullopt;
    }
    return Race(std::move(catalogs->servers), timeouts, deadline,
                PingPlan{*forest, Provider::GlobalCatalog})
        .entry;
}

} // namespace

std::optional<RootDseEntry> LocateRootDse(Provider provider) {
    const auto start = Clock::now();
    // Until libldap has read its configuration, the timeouts it sets are known only from the same
    // files and variables, read here.
    const auto expected = TimeoutsBeforeFirstUse();
    if (!AwaitLibldapFirstUse(start + expected.connect + expected.search)) {
        return std::nullopt;
    }
    const auto configured = ConfiguredUriList();
    const auto timeouts = EffectiveTimeouts();
    const auto deadline = start + timeouts.connect + timeouts.search;
    if (!configured) {
        return LocateThroughDns(provider, timeouts, deadline);
    }
    // Configured servers are the user's own choice: raced as they are, with no ping.
    std::vector<ServerCandidate> servers;
    for (const auto& uri : UrisForProvider(*configured, provider)) {
        if (auto server = CandidateOfUri(uri)) {
            servers.push_back(std::move(*server));
        }
    }
    return Race(std::move(servers), timeouts, deadline).entry;
}

} // namespace quindral
