// Which domain controller to connect to first, from the answers to LDAP pings: replies in, order
// out, as the race decides it.

#include "ScriptedPing.h"
#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"
#include "report/ldap/activedirectory/SiteSelection.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace quindral {
namespace {

using testing::DcReply;
using testing::kDcWithoutCatalogFlags;
using testing::kWritableDcFlags;

// A DC of quindral.test, in the forest quindral.test.
NetlogonReply Closest(const std::string& host) {
    return DcReply(host + ".quindral.test", kWritableDcFlags | kDsClosestFlag, "SiteA", "SiteA");
}
NetlogonReply Far(const std::string& host, const std::string& clientSite) {
    return DcReply(host + ".quindral.test", kWritableDcFlags, "SiteA", clientSite);
}
NetlogonReply InForest(const std::string& host, const std::string& forest) {
    return DcReply(host + ".quindral.test", kWritableDcFlags | kDsClosestFlag, "SiteA", "SiteA",
                   forest);
}

struct SelectionCase {
    const char* name;
    Provider provider = Provider::Ldap;
    bool replyIsEnough = false;
    std::vector<std::string> servers = {"dc1", "dc2"};          // in the SRV records' order
    std::vector<std::pair<std::string, NetlogonReply>> answers; // as they arrived
    std::optional<std::string> siteAsked = std::nullopt;
    std::vector<std::string> siteRecords = {}; // what the site's SRV names list (none: NXDOMAIN)
    std::vector<std::string> order;            // empty: no reply may decide
};

const std::string kLong(64, 's');

const SelectionCase kCases[] = {
    {.name = "ClosestKeepsTheOrder",
     .servers = {"dc1", "dc2", "dc3"},
     .answers = {{"dc1", Closest("dc1")}},
     .order = {"dc1", "dc2", "dc3"}},
    {.name = "AnsweringDcGoesFirst",
     .servers = {"dc1", "dc2", "dc3"},
     .answers = {{"dc3", Closest("dc3")}},
     .order = {"dc3", "dc1", "dc2"}},
    {.name = "NotClosestPutsTheSitesDcsFirst",
     .servers = {"dc1", "dc2", "dc3"},
     .answers = {{"dc1", Far("dc1", "SiteB")}},
     .siteAsked = "SiteB",
     .siteRecords = {"dc3", "dc2"},
     .order = {"dc3", "dc2", "dc1"}},
    {.name = "SiteDcNotAmongTheDomainsRecords",
     .answers = {{"dc1", Far("dc1", "SiteB")}},
     .siteAsked = "SiteB",
     .siteRecords = {"dc9"},
     .order = {"dc9", "dc1", "dc2"}},
    {.name = "SiteWithNoRecords",
     .answers = {{"dc2", Far("dc2", "SiteB")}},
     .siteAsked = "SiteB",
     .order = {"dc2", "dc1"}},
    {.name = "ClientInNoSite", .answers = {{"dc2", Far("dc2", "")}}, .order = {"dc2", "dc1"}},
    {.name = "CatalogWithoutTheFlagIsPassedOver",
     .provider = Provider::GlobalCatalog,
     .servers = {"gc1", "gc2", "gc3"},
     .answers = {{"gc1", DcReply("gc1.quindral.test", kDcWithoutCatalogFlags | kDsClosestFlag,
                                 "SiteA", "SiteA")},
                 {"gc3", Closest("gc3")}},
     .order = {"gc3", "gc2"}},
    {.name = "CatalogNotClosest",
     .provider = Provider::GlobalCatalog,
     .servers = {"gc1", "gc2"},
     .answers = {{"gc1", Far("gc1", "SiteB")}},
     .siteAsked = "SiteB",
     .siteRecords = {"gc2"},
     .order = {"gc2", "gc1"}},
    // A DC that answers for another domain than the one pinged cannot serve it.
    {.name = "ReplyForAnotherDomainIsPassedOver",
     .answers = {{"dc1",
                  DcReply("dc1.other.test", kWritableDcFlags | kDsClosestFlag, "SiteA", "SiteA")},
                 {"dc2", Far("dc2", "")}},
     .order = {"dc2"}},
    {.name = "DomainComparedWithoutRegardToCase",
     .answers = {{"dc2", DcReply("dc2.QUINDRAL.Test", kWritableDcFlags, "SiteA", "")}},
     .order = {"dc2", "dc1"}},
    // The forest's name is where a catalog race looks for site records, and what a race that
    // wants only the forest gives back: it must be a DNS name.
    {.name = "CatalogForestWithADotTooMany",
     .provider = Provider::GlobalCatalog,
     .answers = {{"dc1", InForest("dc1", "quindral..test")}, {"dc2", Closest("dc2")}},
     .order = {"dc2"}},
    {.name = "CatalogForestWithAnEscape",
     .provider = Provider::GlobalCatalog,
     .answers = {{"dc1", InForest("dc1", "quindral\\.test")}},
     .order = {}},
    {.name = "CatalogForestWithANulByte",
     .provider = Provider::GlobalCatalog,
     .answers = {{"dc1", InForest("dc1", std::string("quindral\0.test", 14))}},
     .order = {}},
    {.name = "CatalogForestWithASpace",
     .provider = Provider::GlobalCatalog,
     .answers = {{"dc1", InForest("dc1", "quindral test")}},
     .order = {}},
    {.name = "CatalogForestEmpty",
     .provider = Provider::GlobalCatalog,
     .answers = {{"dc1", InForest("dc1", "")}},
     .order = {}},
    {.name = "ForestWantedAloneWithALabelTooLong",
     .replyIsEnough = true,
     .answers = {{"dc1", InForest("dc1", kLong + ".test")}},
     .order = {}},
    {.name = "ForestWithUnderscoresAndHyphens",
     .replyIsEnough = true,
     .answers = {{"dc1", InForest("dc1", "_msdcs-x.quindral.test")}},
     .order = {"dc1", "dc2"}},
    // Where the forest is not used, it is not looked at.
    {.name = "DomainRaceIgnoresTheForest",
     .answers = {{"dc1", InForest("dc1", "not a name")}},
     .order = {"dc1", "dc2"}},
    {.name = "SiteNameWithADot",
     .answers = {{"dc2", Far("dc2", "a.SiteB")}},
     .order = {"dc2", "dc1"}},
    {.name = "SiteNameWithAnEscape",
     .answers = {{"dc2", Far("dc2", "a\\.b")}},
     .order = {"dc2", "dc1"}},
    {.name = "SiteNameWithAControlByte",
     .answers = {{"dc2", Far("dc2", "Site\nB")}},
     .order = {"dc2", "dc1"}},
    {.name = "SiteNameWithANulByte",
     .answers = {{"dc2", Far("dc2", std::string("Site\0B", 6))}},
     .order = {"dc2", "dc1"}},
    {.name = "SiteNameOverALabel",
     .answers = {{"dc2", Far("dc2", kLong)}},
     .order = {"dc2", "dc1"}},
    {.name = "SiteNameOfALabelExactly",
     .answers = {{"dc2", Far("dc2", kLong.substr(1))}},
     .siteAsked = kLong.substr(1),
     .siteRecords = {"dc1"},
     .order = {"dc1", "dc2"}},
};

TEST(SiteSelection, FirstUsableReplyDecidesTheOrder) {
    for (const auto& c : kCases) {
        const PingPlan plan{"quindral.test", c.provider, c.replyIsEnough};
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
            if (IsUsableReply(reply, plan)) {
                answered.push_back(indexOf(host));
                deciding = reply;
                break;
            }
            unfit.push_back(indexOf(host));
        }
        ASSERT_EQ(deciding.has_value(), !c.order.empty()) << c.name;
        if (!deciding) {
            continue;
        }
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
