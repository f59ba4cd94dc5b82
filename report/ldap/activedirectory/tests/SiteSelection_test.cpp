// Which domain controller to connect to first, from the answers to LDAP pings: which replies may
// decide, which site is looked up, and the order of connection that comes of them.

#include "ScriptedPing.h"
#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"
#include "report/ldap/activedirectory/SiteSelection.h"

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

const std::string kLong(64, 's');

// Whether a reply may decide, for the plan of the race that pinged.
TEST(SiteSelection, UsableReplies) {
    const struct {
        const char* name;
        NetlogonReply reply;
        bool usable;
        Provider provider = Provider::Ldap;
        bool replyIsEnough = false;
    } kRows[] = {
        {.name = "DcOfTheDomain", .reply = Closest("dc1"), .usable = true},
        {.name = "DcOfAnotherDomain",
         .reply = DcReply("dc1.other.test", kWritableDcFlags | kDsClosestFlag, "SiteA", "SiteA"),
         .usable = false},
        {.name = "DomainComparedWithoutRegardToCase",
         .reply = DcReply("dc2.QUINDRAL.Test", kWritableDcFlags, "SiteA", ""),
         .usable = true},
        {.name = "CatalogWithTheFlag",
         .reply = Closest("gc3"),
         .usable = true,
         .provider = Provider::GlobalCatalog},
        {.name = "CatalogWithoutTheFlag",
         .reply = DcReply("gc1.quindral.test", kDcWithoutCatalogFlags | kDsClosestFlag, "SiteA",
                          "SiteA"),
         .usable = false,
         .provider = Provider::GlobalCatalog},
        // The forest's name is where a catalog race looks for site records, and what a race that
        // wants only the forest gives back: it must be a DNS name (IsDnsName's own table has what
        // that is).
        {.name = "CatalogForestWithADotTooMany",
         .reply = InForest("dc1", "quindral..test"),
         .usable = false,
         .provider = Provider::GlobalCatalog},
        {.name = "ForestWantedAloneWithALabelTooLong",
         .reply = InForest("dc1", kLong + ".test"),
         .usable = false,
         .replyIsEnough = true},
        {.name = "ForestWithUnderscoresAndHyphens",
         .reply = InForest("dc1", "_msdcs-x.quindral.test"),
         .usable = true,
         .replyIsEnough = true},
        // Where the forest is not used, it is not looked at.
        {.name = "DomainRaceIgnoresTheForest",
         .reply = InForest("dc1", "not a name"),
         .usable = true},
    };
    for (const auto& row : kRows) {
        const PingPlan plan{"quindral.test", row.provider, row.replyIsEnough};
        EXPECT_EQ(IsUsableReply(row.reply, plan), row.usable) << row.name;
    }
}

// The client's site, looked up when the deciding DC does not cover it and the name may go into a
// DNS query.
TEST(SiteSelection, SiteToLookUp) {
    const struct {
        const char* name;
        NetlogonReply deciding;
        std::optional<std::string> site;
    } kRows[] = {
        {.name = "DcCoversTheClientsSite", .deciding = Closest("dc1"), .site = std::nullopt},
        {.name = "ClientInAnotherSite", .deciding = Far("dc1", "SiteB"), .site = "SiteB"},
        {.name = "ClientInNoSite", .deciding = Far("dc2", ""), .site = std::nullopt},
        {.name = "SiteNameWithADot", .deciding = Far("dc2", "a.SiteB"), .site = std::nullopt},
        {.name = "SiteNameWithAnEscape", .deciding = Far("dc2", "a\\.b"), .site = std::nullopt},
        {.name = "SiteNameWithAControlByte",
         .deciding = Far("dc2", "Site\nB"),
         .site = std::nullopt},
        {.name = "SiteNameWithANulByte",
         .deciding = Far("dc2", std::string("Site\0B", 6)),
         .site = std::nullopt},
        {.name = "SiteNameOverALabel", .deciding = Far("dc2", kLong), .site = std::nullopt},
        {.name = "SiteNameOfALabelExactly",
         .deciding = Far("dc2", kLong.substr(1)),
         .site = kLong.substr(1)},
    };
    for (const auto& row : kRows) {
        EXPECT_EQ(SiteToLookUp(row.deciding), row.site) << row.name;
    }
}

// The order of connection, by the servers' indexes in the records' order (the site's servers not
// among them come after).
TEST(SiteSelection, ConnectOrder) {
    const struct {
        const char* name;
        std::size_t servers;
        std::vector<std::size_t> site = {};
        std::vector<std::size_t> answered = {};
        std::vector<std::size_t> unfit = {};
        std::vector<std::size_t> order;
    } kRows[] = {
        {.name = "ClosestKeepsTheOrder", .servers = 3, .answered = {0}, .order = {0, 1, 2}},
        {.name = "AnsweringDcGoesFirst", .servers = 3, .answered = {2}, .order = {2, 0, 1}},
        {.name = "SitesDcsFirstInTheirOwnOrder",
         .servers = 3,
         .site = {2, 1},
         .answered = {0},
         .order = {2, 1, 0}},
        {.name = "SiteDcNotAmongTheDomainsRecords",
         .servers = 3,
         .site = {2},
         .answered = {0},
         .order = {2, 0, 1}},
        {.name = "UnfitAreLeftOut", .servers = 3, .answered = {2}, .unfit = {0}, .order = {2, 1}},
        {.name = "NothingButTheUnfit", .servers = 1, .unfit = {0}, .order = {}},
    };
    for (const auto& row : kRows) {
        EXPECT_EQ(ConnectOrder(row.servers, row.site, row.answered, row.unfit), row.order)
            << row.name;
    }
}

} // namespace
} // namespace quindral
