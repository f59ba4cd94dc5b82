#include "ServerLocator.h"

#include "ActiveDirectoryRecords.h"
#include "DnsDiscovery.h"
#include "LdapConfiguration.h"
#include "LibldapFirstUse.h"
#include "RootDseRace.h"
#include "Utf8Text.h"

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

// The servers that a domain's SRV records list for the provider, raced. Those of Active
// Directory's own records (all but "_ldap._tcp.<domain>", which any LDAP server may stand in)
// are domain controllers, pinged first as the Windows locator pings them.
RaceResult RaceFound(std::optional<SrvServers> found, Provider provider, const std::string& domain,
                     const ServerTimeouts& timeouts, Clock::time_point deadline,
                     bool replyIsEnough = false) {
    if (!found) {
        return {};
    }
    std::optional<PingPlan> plan;
    if (provider == Provider::GlobalCatalog || found->name == 0) {
        plan = PingPlan{domain, provider, replyIsEnough};
    }
    return Race(std::move(found->servers), timeouts, deadline, std::move(plan));
}

// The forest of the host's domain, as a domain controller of it says: in its answer to a ping,
// else in its root entry.
std::optional<std::string> ForestOf(const std::string& domain, const ServerTimeouts& timeouts,
                                    Clock::time_point deadline) {
    const auto controller =
        RaceFound(ServersFromSrv(SrvNamesFor(Provider::Ldap, domain), deadline), Provider::Ldap,
                  domain, timeouts, deadline, /*replyIsEnough=*/true);
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

std::optional<RootDseEntry> LocateThroughDns(Provider provider, const ServerTimeouts& timeouts,
                                             Clock::time_point deadline) {
    const auto domain = HostDnsDomain(deadline);
    if (!domain) {
        return std::nullopt;
    }
    auto found = ServersFromSrv(SrvNamesFor(provider, *domain), deadline);
    if (provider == Provider::Ldap || found) {
        return RaceFound(std::move(found), provider, *domain, timeouts, deadline).entry;
    }
    // Catalogs are registered under the forest root only; a domain controller of this domain
    // names it.
    const auto forest = ForestOf(*domain, timeouts, deadline);
    if (!forest || AsciiLowerCase(*forest) == AsciiLowerCase(*domain)) {
        return std::nullopt;
    }
    return RaceFound(ServersFromSrv(SrvNamesFor(Provider::GlobalCatalog, *forest), deadline),
                     Provider::GlobalCatalog, *forest, timeouts, deadline)
        .entry;
}

} // namespace

std::optional<Provider> ProviderOfBindPath(std::string_view path) {
    if (path == "LDAP://rootDSE") {
        return Provider::Ldap;
    }
    if (path == "GC://rootDSE") {
        return Provider::GlobalCatalog;
    }
    return std::nullopt;
}

std::optional<RootDseEntry> LocateRootDse(Provider provider) {
    const auto start = Clock::now();
    // Until libldap has read its configuration, the timeouts it sets are not known: its defaults
    // bound the wait.
    if (!AwaitLibldapFirstUse(start + kDefaultTimeouts.connect + kDefaultTimeouts.search)) {
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
