#include "ServerLocator.h"

#include "DnsDiscovery.h"
#include "LdapConfiguration.h"
#include "LibldapFirstUse.h"
#include "ServerRace.h"

namespace quindral {

namespace {

std::optional<RootDseEntry> Race(std::vector<ServerCandidate> servers,
                                 const ServerTimeouts& timeouts, Clock::time_point deadline) {
    if (servers.empty()) {
        return std::nullopt;
    }
    RootDseRace race(timeouts, deadline);
    return race.Run(std::move(servers));
}

std::vector<ServerCandidate> ServersOf(std::optional<SrvServers> found) {
    return found ? std::move(found->servers) : std::vector<ServerCandidate>{};
}

std::optional<RootDseEntry> LocateThroughDns(Provider provider, const ServerTimeouts& timeouts,
                                             Clock::time_point deadline) {
    const auto domain = HostDnsDomain(deadline);
    if (!domain) {
        return std::nullopt;
    }
    if (provider == Provider::Ldap) {
        return Race(ServersOf(ServersFromSrv(SrvNamesFor(Provider::Ldap, *domain), deadline)),
                    timeouts, deadline);
    }
    auto catalogs =
        ServersOf(ServersFromSrv(SrvNamesFor(Provider::GlobalCatalog, *domain), deadline));
    if (catalogs.empty()) {
        // Catalogs are registered under the forest root only; a domain controller of this
        // domain names it.
        const auto controller =
            Race(ServersOf(ServersFromSrv(SrvNamesFor(Provider::Ldap, *domain), deadline)),
                 timeouts, deadline);
        const auto* root = controller ? controller->Find("rootDomainNamingContext") : nullptr;
        const auto forest = root != nullptr && !root->values.empty()
                                ? DnsNameOfNamingContext(root->values.front())
                                : std::nullopt;
        if (!forest || AsciiLowerCase(*forest) == AsciiLowerCase(*domain)) {
            return std::nullopt;
        }
        catalogs =
            ServersOf(ServersFromSrv(SrvNamesFor(Provider::GlobalCatalog, *forest), deadline));
    }
    return Race(std::move(catalogs), timeouts, deadline);
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
    InitialiseLibldap();
    const auto configured = ConfiguredUriList();
    const auto timeouts = EffectiveTimeouts();
    const auto deadline = start + timeouts.connect + timeouts.search;
    if (!configured) {
        return LocateThroughDns(provider, timeouts, deadline);
    }
    std::vector<ServerCandidate> servers;
    for (const auto& uri : UrisForProvider(*configured, provider)) {
        if (auto server = CandidateOfUri(uri)) {
            servers.push_back(std::move(*server));
        }
    }
    return Race(std::move(servers), timeouts, deadline);
}

} // namespace quindral
