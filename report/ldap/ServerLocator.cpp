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

// One SRV name asked, and what its records stand for.
struct SrvQuestion {
    std::string name;
    std::string domain;
    Provider serves;      // catalogs, or domain controllers (and LDAP servers)
    bool activeDirectory; // Active Directory's own records, whose servers are pinged; not the
                          // "_ldap._tcp.<domain>" that any LDAP server may stand in
};

// The SRV names asked, best first: every domain's Active Directory names before any domain's
// plain "_ldap._tcp", so that an LDAP server of another domain never beats the client's own DCs.
// For a global catalog, each domain's catalog names, then its domain controllers', which name the
// forest when the domain registers no catalogs of its own (catalogs are registered under the
// forest root only).
std::vector<SrvQuestion> QuestionsFor(Provider provider, const std::vector<std::string>& domains) {
    std::vector<SrvQuestion> activeDirectory;
    std::vector<SrvQuestion> plain;
    for (const auto& domain : domains) {
        if (provider == Provider::GlobalCatalog) {
            for (auto& name : SrvNamesFor(Provider::GlobalCatalog, domain)) {
                activeDirectory.push_back({std::move(name), domain, Provider::GlobalCatalog, true});
            }
        }
        auto controllers = SrvNamesFor(Provider::Ldap, domain);
        activeDirectory.push_back({std::move(controllers.front()), domain, Provider::Ldap, true});
        plain.push_back({std::move(controllers.back()), domain, Provider::Ldap, false});
    }
    activeDirectory.insert(activeDirectory.end(), plain.begin(), plain.end());
    return activeDirectory;
}

// The root entry that the servers of one answered name lead to: theirs, or for a catalog wanted
// where domain controllers answered, a catalog's of their forest.
std::optional<RootDseEntry> EntryOfAnswer(Provider provider, const SrvQuestion& answered,
                                          std::vector<ServerCandidate> servers,
                                          const ServerTimeouts& timeouts,
                                          Clock::time_point deadline) {
    if (answered.serves == provider) {
        return Race(std::move(servers), timeouts, deadline,
                    answered.activeDirectory ? std::optional(PingPlan{answered.domain, provider})
                                             : std::nullopt)
            .entry;
    }
    // A catalog is wanted and domain controllers answered: the catalogs stand under their forest.
    const auto forest =
        ForestOf(answered.domain, std::move(servers), answered.activeDirectory, timeouts, deadline);
    if (!forest || SameName(*forest, answered.domain)) {
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

// The best answered name's servers; when they lead nowhere (every server failed, or no forest
// was found for a catalog), the next domain that has records, within the same deadline.
std::optional<RootDseEntry> LocateThroughDns(Provider provider, const ServerTimeouts& timeouts,
                                             Clock::time_point deadline) {
    auto questions = QuestionsFor(provider, ClientDomains(deadline));
    while (!questions.empty() && Clock::now() < deadline) {
        std::vector<std::string> names;
        for (const auto& question : questions) {
            names.push_back(question.name);
        }
        auto found = ServersFromSrv(names, deadline);
        if (!found) {
            return std::nullopt;
        }
        const SrvQuestion answered = questions[found->nameIndex];
        if (auto entry =
                EntryOfAnswer(provider, answered, std::move(found->servers), timeouts, deadline)) {
            return entry;
        }
        std::erase_if(questions, [&](const SrvQuestion& question) {
            return SameName(question.domain, answered.domain);
        });
    }
    return std::nullopt;
}

} // namespace

std::optional<RootDseEntry> LocateRootDse(Provider provider) {
    const auto start = Clock::now();
    if (!AwaitLibldapFirstUseForClick(start)) {
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
