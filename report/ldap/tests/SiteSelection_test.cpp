// Which domain controller to connect to first, from the answers to LDAP pings: replies in, order
// out, as the race decides it.

#include "ScriptedPing.h"
#include "report/ldap/SiteSelection.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace quindral {
namespace {

using testing::DcReply;
using testing::kDcWithoutCatalogFlags;
using testing::kWritableDcFlags;

NetlogonReply Closest(const std::string& host) {
    return DcReply(host, kWritableDcFlags | kDsClosestFlag, "SiteA", "SiteA");
}
NetlogonReply Far(const std::string& host, const std::string& clientSite) {
    return DcReply(host, kWritableDcFlags, "SiteA", clientSite);
}

struct SelectionCase {
    const char* name;
    Provider provider;
    std::vector<std::string> servers;                           // in the SRV records' order
    std::vector<std::pair<std::string, NetlogonReply>> answers; // as they arrived
    std::optional<std::string> siteAsked;
    std::vector<std::string> siteRecords; // what the site's SRV names list (none: NXDOMAIN)
    std::vector<std::string> order;
};

const std::string kLong(64, 's');

const SelectionCase kCases[] = {
    {"ClosestKeepsTheOrder",
     Provider::Ldap,
     {"dc1", "dc2", "dc3"},
     {{"dc1", Closest("dc1")}},
     std::nullopt,
     {},
     {"dc1", "dc2", "dc3"}},
    {"AnsweringDcGoesFirst",
     Provider::Ldap,
     {"dc1", "dc2", "dc3"},
     {{"dc3", Closest("dc3")}},
     std::nullopt,
     {},
     {"dc3", "dc1", "dc2"}},
    {"NotClosestPutsTheSitesDcsFirst",
     Provider::Ldap,
     {"dc1", "dc2", "dc3"},
     {{"dc1", Far("dc1", "SiteB")}},
     "SiteB",
     {"dc3", "dc2"},
     {"dc3", "dc2", "dc1"}},
    {"SiteDcNotAmongTheDomainsRecords",
     Provider::Ldap,
     {"dc1", "dc2"},
     {{"dc1", Far("dc1", "SiteB")}},
     "SiteB",
     {"dc9"},
     {"dc9", "dc1", "dc2"}},
    {"SiteWithNoRecords",
     Provider::Ldap,
     {"dc1", "dc2"},
     {{"dc2", Far("dc2", "SiteB")}},
     "SiteB",
     {},
     {"dc2", "dc1"}},
    {"ClientInNoSite",
     Provider::Ldap,
     {"dc1", "dc2"},
     {{"dc2", Far("dc2", "")}},
     std::nullopt,
     {},
     {"dc2", "dc1"}},
    {"CatalogWithoutTheFlagIsPassedOver",
     Provider::GlobalCatalog,
     {"gc1", "gc2", "gc3"},
     {{"gc1", DcReply("gc1", kDcWithoutCatalogFlags | kDsClosestFlag, "SiteA", "SiteA")},
      {"gc3", Closest("gc3")}},
     std::nullopt,
     {},
     {"gc3", "gc2"}},
    {"CatalogNotClosest",
     Provider::GlobalCatalog,
     {"gc1", "gc2"},
     {{"gc1", Far("gc1", "SiteB")}},
     "SiteB",
     {"gc2"},
     {"gc2", "gc1"}},
    {"SiteNameWithADot",
     Provider::Ldap,
     {"dc1", "dc2"},
     {{"dc2", Far("dc2", "a.SiteB")}},
     std::nullopt,
     {},
     {"dc2", "dc1"}},
    {"SiteNameWithAnEscape",
     Provider::Ldap,
     {"dc1", "dc2"},
     {{"dc2", Far("dc2", "a\\.b")}},
     std::nullopt,
     {},
     {"dc2", "dc1"}},
    {"SiteNameWithAControlByte",
     Provider::Ldap,
     {"dc1", "dc2"},
     {{"dc2", Far("dc2", "Site\nB")}},
     std::nullopt,
     {},
     {"dc2", "dc1"}},
    {"SiteNameWithANulByte",
     Provider::Ldap,
     {"dc1", "dc2"},
     {{"dc2", Far("dc2", std::string("Site\0B", 6))}},
     std::nullopt,
     {},
     {"dc2", "dc1"}},
    {"SiteNameOverALabel",
     Provider::Ldap,
     {"dc1", "dc2"},
     {{"dc2", Far("dc2", kLong)}},
     std::nullopt,
     {},
     {"dc2", "dc1"}},
    {"SiteNameOfALabelExactly",
     Provider::Ldap,
     {"dc1", "dc2"},
     {{"dc2", Far("dc2", kLong.substr(1))}},
     kLong.substr(1),
     {"dc1"},
     {"dc1", "dc2"}},
};

TEST(SiteSelection, FirstUsableReplyDecidesTheOrder) {
    for (const auto& c : kCases) {
        std::vector<std::string> servers = c.servers;
        const auto indexOf = [&](const std::string& host) {
            const auto found = std::find(servers.begin(), servers.end(), host);
            if (found != servers.end()) {
                return static_cast<std::size_t>(found - servers.begin());
            }
            servers.push_back(host);
            return servers.size() - 1;
        };
        std::vector<std::size_t> answered, unfit;
        std::optional<NetlogonReply> deciding;
        for (const auto& [host, reply] : c.answers) {
            if (IsUsableReply(reply, c.provider)) {
                answered.push_back(indexOf(host));
                deciding = reply;
                break;
            }
            unfit.push_back(indexOf(host));
        }
        ASSERT_TRUE(deciding) << c.name;
        EXPECT_EQ(SiteToLookUp(*deciding), c.siteAsked) << c.name;
        std::vector<std::size_t> site;
        for (const auto& host : c.siteRecords) {
            site.push_back(indexOf(host));
        }
        std::vector<std::string> order;
        for (std::size_t i : ConnectOrder(servers.size(), site, answered, unfit)) {
            order.push_back(servers[i]);
        }
        EXPECT_EQ(order, c.order) << c.name;
    }
}

} // namespace
} // namespace quindral
