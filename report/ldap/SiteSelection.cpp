#include "SiteSelection.h"

#include <algorithm>

namespace quindral {

namespace {

constexpr std::size_t kMaxLabel = 63;

} // namespace

bool IsUsableReply(const NetlogonReply& reply, Provider provider) {
    return provider != Provider::GlobalCatalog || (reply.flags & kDsGcFlag) != 0;
}

bool IsSiteLabel(std::string_view site) {
    return !site.empty() && site.size() <= kMaxLabel &&
           std::none_of(site.begin(), site.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return byte < 0x20 || byte == 0x7F || c == '.' || c == '\\';
           });
}

std::optional<std::string> SiteToLookUp(const NetlogonReply& deciding) {
    if ((deciding.flags & kDsClosestFlag) != 0 || !IsSiteLabel(deciding.clientSiteName)) {
        return std::nullopt;
    }
    return deciding.clientSiteName;
}

std::vector<std::string> SiteSrvNamesFor(Provider provider, const std::string& site,
                                         const std::string& domain) {
    if (provider == Provider::GlobalCatalog) {
        return {"_ldap._tcp." + site + "._sites.gc._msdcs." + domain,
                "_gc._tcp." + site + "._sites." + domain};
    }
    return {"_ldap._tcp." + site + "._sites.dc._msdcs." + domain};
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
