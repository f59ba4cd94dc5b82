#include "report/ldap/race/RaceServers.h"

#include "report/ldap/plumbing/SocketAddress.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>

namespace quindral {

std::size_t RaceServers::Add(ServerCandidate candidate) {
    RaceServer server;
    const auto known = candidate.local ? LocalSocketAddress(candidate.host)
                                       : NumericAddress(candidate.host, candidate.port);
    if (candidate.local || known) {
        server.lookupsStarted = true;
        if (known) {
            server.addresses.push_back(*known);
        }
    }
    server.candidate = std::move(candidate);
    servers_.push_back(std::move(server));
    return servers_.size() - 1;
}

std::size_t RaceServers::FindOrAdd(ServerCandidate candidate) {
    const auto known = std::find_if(servers_.begin(), servers_.end(), [&](const RaceServer& s) {
        return s.candidate.port == candidate.port && SameName(s.candidate.host, candidate.host);
    });
    return known != servers_.end() ? static_cast<std::size_t>(known - servers_.begin())
                                   : Add(std::move(candidate));
}

std::vector<std::size_t> RaceServers::LookupsToStart(const std::vector<std::size_t>& order) {
    int waiting =
        static_cast<int>(std::count_if(servers_.begin(), servers_.end(), [](const RaceServer& s) {
            return s.lookupsUnderWay > 0 && s.addresses.empty();
        }));
    std::vector<std::size_t> starting;
    for (std::size_t index : order) {
        if (waiting >= kLookupsAhead) {
            break;
        }
        RaceServer& server = servers_[index];
        if (server.lookupsStarted) {
            continue;
        }
        server.lookupsStarted = true;
        server.lookupsUnderWay = kFamilies;
        ++waiting;
        starting.push_back(index);
    }
    return starting;
}

void RaceServers::FamilyAnswered(std::size_t index,
                                 const std::vector<sockaddr_storage>& addresses) {
    RaceServer& server = servers_[index];
    server.addresses.insert(server.addresses.end(), addresses.begin(), addresses.end());
    server.lookupsUnderWay = std::max(0, server.lookupsUnderWay - 1);
}

} // namespace quindral
