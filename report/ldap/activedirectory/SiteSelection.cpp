#include "report/ldap/activedirectory/SiteSelection.h"

#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>

namespace quindral {

bool IsUsableReply(const NetlogonReply& reply, const PingPlan& plan) {
    const bool catalog = plan.provider == Provider::GlobalCatalog;
    if (catalog ? (reply.flags & kDsGcFlag) == 0
                : !SameName(reply.dnsDomainName, plan.domain)) {
        return false;
    }
    return !(catalog || plan.replyIsEnough) || IsDnsName(reply.dnsForestName);
}

std::optional<std::string> SiteToLookUp(const NetlogonReply& deciding) {
    if ((deciding.flags & kDsClosestFlag) != 0 || !IsSiteLabel(deciding.clientSiteName)) {
        return std::nullopt;
    }
    return deciding.clientSiteName;
}

std::vector<std::size_t> ConnectOrder(std::size_t serverCount,
                                      const std::vector<std::size_t>& siteServers,
                                      const std::vector<std::size_t>& answered,
                                      const std::vector<std::size_t>& unfit) {
    std::vector<bool> placed(serverCount, false);
    for (std::size_t server : unfit) {
        if (server < serverCount) {
            placed[server] = true;
        }
    }
    std::vector<std::size_t> order;
    const auto place = [&](std::size_t server) {
        if (server < serverCount && !placed[server]) {
            placed[server] = true;
            order.push_back(server);
        }
    };
    std::for_each(siteServers.begin(), siteServers.end(), place);
    std::for_each(answered.begin(), answered.end(), place);
    for (std::size_t server = 0; server < serverCount; ++server) {
        place(server);
    }
    return order;
}

} // namespace quindral
