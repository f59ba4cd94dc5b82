#include "ServerLocator.h"

#include "AsyncResolver.h"
#include "ServerRace.h"

#include <algorithm>
#include <climits>
#include <ldap.h>
#include <random>
#include <resolv.h>
#include <unistd.h>
#include <utility>

namespace quindral {

namespace {

// What libldap reports as its default URI when no configuration names one.
constexpr std::string_view kBuiltInDefaultUri = "ldap://localhost:389/??base";

std::string UriFor(const std::string& scheme, const std::string& host, int port) {
    std::string uri = scheme + "://";
    if (host.find(':') != std::string::npos) {
        uri += "[" + host + "]";
    } else {
        uri += host;
    }
    if (port > 0) {
        uri += ":" + std::to_string(port);
    }
    return uri;
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

// libldap's first use in a process reads its configuration and looks up this host's own name
// through the system resolver, which with a resolver that never answers waits resolv.conf's
// timeout times its attempts for every name of the search list. For that first call the resolver
// asks each name once and waits one second for it; its settings are put back afterwards. Later
// calls need nothing of it.
class BriefSystemResolver {
public:
    BriefSystemResolver() {
        static bool libldapInitialised = false;
        if (std::exchange(libldapInitialised, true)) {
            return;
        }
        if (res_init() == 0) {
            saved_ = {_res.retrans, _res.retry};
            _res.retrans = 1;
            _res.retry = 1;
        }
    }
    ~BriefSystemResolver() {
        if (saved_) {
            _res.retrans = saved_->first;
            _res.retry = saved_->second;
        }
    }
    BriefSystemResolver(const BriefSystemResolver&) = delete;
    BriefSystemResolver& operator=(const BriefSystemResolver&) = delete;

private:
    std::optional<std::pair<int, int>> saved_;
};

// Runs the resolver until done() holds, it has nothing left to wait for, or the deadline.
void Await(AsyncResolver& resolver, Clock::time_point deadline, const std::function<bool()>& done) {
    std::vector<pollfd> fds;
    while (!done() && resolver.Busy()) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return;
        }
        auto wake = deadline;
        if (const auto next = resolver.NextTimeout()) {
            wake = std::min(wake, now + *next);
        }
        fds.clear();
        resolver.AddPollFds(fds);
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<std::int64_t>(wait, 0)));
        resolver.Process(fds, 0);
    }
}

// The host's DNS domain: the domain part of its fully qualified name (from the hosts file or
// DNS), else the resolver's own domain or first search entry.
std::optional<std::string> HostDnsDomain(AsyncResolver& resolver, Clock::time_point deadline) {
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
        std::optional<std::string> name(host);
        if (name->find('.') == std::string::npos) {
            bool answered = false;
            resolver.LookupCanonicalName(*name, [&](std::optional<std::string> canonical) {
                answered = true;
                if (canonical) {
                    name = std::move(canonical);
                }
            });
            Await(resolver, deadline, [&] { return answered; });
        }
        if (auto domain = DomainPart(*name)) {
            return domain;
        }
    }
    struct __res_state state {};
    std::optional<std::string> domain;
    if (res_ninit(&state) == 0) {
        if (state.defdname[0] != '\0') {
            domain = state.defdname;
        } else if (state.dnsrch[0] != nullptr && state.dnsrch[0][0] != '\0') {
            domain = state.dnsrch[0];
        }
    }
    res_nclose(&state);
    return domain;
}

// The servers that the first of the names with any SRV records lists, in the order to try them.
// The names are asked at the same time.
std::vector<ServerCandidate> ServersFromSrv(const std::vector<std::string>& names,
                                            Clock::time_point deadline) {
    AsyncResolver resolver;
    std::vector<std::optional<std::vector<SrvRecord>>> answers(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        resolver.QuerySrv(names[i], [&answers, i](std::vector<SrvRecord> records) {
            answers[i] = std::move(records);
        });
    }
    const auto chosen = [&]() -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < answers.size(); ++i) {
            if (!answers[i]) {
                return std::nullopt; // a better name is still unanswered
            }
            if (!answers[i]->empty()) {
                return i;
            }
        }
        return std::nullopt;
    };
    Await(resolver, deadline, [&] { return chosen().has_value(); });

    std::vector<ServerCandidate> servers;
    const auto best = std::find_if(answers.begin(), answers.end(),
                                   [](const auto& answer) { return answer && !answer->empty(); });
    if (best == answers.end()) {
        return servers;
    }
    std::random_device seed;
    std::mt19937 generator(seed());
    const auto random = [&](std::uint32_t upTo) {
        return std::uniform_int_distribution<std::uint32_t>(0, upTo)(generator);
    };
    for (const auto& record : OrderSrvRecords(std::move(**best), random)) {
        ServerCandidate server;
        server.uri = UriFor("ldap", record.target, record.port);
        server.host = record.target;
        server.port = record.port;
        servers.push_back(std::move(server));
    }
    return servers;
}

std::optional<RootDseEntry> Race(std::vector<ServerCandidate> servers,
                                 const ServerTimeouts& timeouts, Clock::time_point deadline) {
    if (servers.empty()) {
        return std::nullopt;
    }
    RootDseRace race(timeouts, deadline);
    return race.Run(std::move(servers));
}

std::optional<RootDseEntry> LocateThroughDns(Provider provider, const ServerTimeouts& timeouts,
                                             Clock::time_point deadline) {
    std::optional<std::string> domain;
    {
        AsyncResolver resolver;
        domain = HostDnsDomain(resolver, deadline);
    }
    if (!domain) {
        return std::nullopt;
    }
    if (provider == Provider::Ldap) {
        return Race(ServersFromSrv(SrvNamesFor(Provider::Ldap, *domain), deadline), timeouts,
                    deadline);
    }
    auto catalogs = ServersFromSrv(SrvNamesFor(Provider::GlobalCatalog, *domain), deadline);
    if (catalogs.empty()) {
        // Catalogs are registered under the forest root only; a domain controller of this
        // domain names it.
        const auto controller = Race(ServersFromSrv(SrvNamesFor(Provider::Ldap, *domain), deadline),
                                     timeouts, deadline);
        const auto* root = controller ? controller->Find("rootDomainNamingContext") : nullptr;
        const auto forest = root != nullptr && !root->values.empty()
                                ? DnsNameOfNamingContext(root->values.front())
                                : std::nullopt;
        if (!forest || AsciiLowerCase(*forest) == AsciiLowerCase(*domain)) {
            return std::nullopt;
        }
        catalogs = ServersFromSrv(SrvNamesFor(Provider::GlobalCatalog, *forest), deadline);
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

        LDAPURLDesc* url = nullptr;
        if (ldap_url_parse(one.c_str(), &url) != LDAP_URL_SUCCESS || url == nullptr) {
            continue;
        }
        const std::string scheme = url->lud_scheme != nullptr ? url->lud_scheme : "ldap";
        const std::string host = url->lud_host != nullptr ? url->lud_host : "";
        ldap_free_urldesc(url);
        if (provider == Provider::Ldap) {
            uris.push_back(one);
        } else if (scheme == "ldap" || scheme == "ldaps") {
            uris.push_back(
                UriFor(scheme, host.empty() ? "localhost" : host, scheme == "ldaps" ? 3269 : 3268));
        }
    }
    return uris;
}

std::vector<std::string> SrvNamesFor(Provider provider, const std::string& domain) {
    if (provider == Provider::GlobalCatalog) {
        return {"_ldap._tcp.gc._msdcs." + domain, "_gc._tcp." + domain};
    }
    return {"_ldap._tcp.dc._msdcs." + domain, "_ldap._tcp." + domain};
}

std::optional<std::string> DnsNameOfNamingContext(std::string_view distinguishedName) {
    std::string name;
    std::size_t at = 0;
    while (at <= distinguishedName.size()) {
        const std::size_t end = std::min(distinguishedName.find(',', at), distinguishedName.size());
        const std::string_view component = distinguishedName.substr(at, end - at);
        const std::size_t equals = component.find('=');
        if (equals != std::string_view::npos &&
            AsciiLowerCase(Trimmed(component.substr(0, equals))) == "dc") {
            const std::string label = Trimmed(component.substr(equals + 1));
            if (!label.empty()) {
                name += (name.empty() ? "" : ".") + label;
            }
        }
        at = end + 1;
    }
    return name.empty() ? std::nullopt : std::optional(name);
}

std::optional<RootDseEntry> LocateRootDse(Provider provider) {
    const auto start = Clock::now();
    std::optional<std::string> configured;
    ServerTimeouts timeouts{};
    {
        BriefSystemResolver brief;
        configured = ConfiguredUriList();
        timeouts = EffectiveTimeouts();
    }
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
