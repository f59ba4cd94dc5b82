#include "ScriptedDns.h"
#include "report/ldap/ServerLocator.h"
#include "report/ldap/activedirectory/ClientDomains.h"
#include "report/ldap/activedirectory/DnsDiscovery.h"
#include "report/ldap/libldap/LdapConfiguration.h"
#include "report/ldap/libldap/ServerCandidate.h"
#include "report/ldap/plumbing/DnsSrv.h"
#include "report/ldap/plumbing/SocketAddress.h"
#include "report/ldap/plumbing/Utf8Text.h"

#include <functional>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <random>

namespace quindral {
namespace {

TEST(ValidUtf8, KeepsValidTextAndReplacesEveryBrokenSequence) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(ValidUtf8("plain DC=x"), "plain DC=x");
    EXPECT_EQ(ValidUtf8("Z\xC3\xBCrich \xE6\x9D\xB1 \xF0\x9F\x98\x80"),
              "Z\xC3\xBCrich \xE6\x9D\xB1 \xF0\x9F\x98\x80");
    EXPECT_EQ(ValidUtf8(std::string("a\0b\r\nc", 6)), std::string("a\0b\r\nc", 6));
    EXPECT_EQ(ValidUtf8("\xFF"), replacement);
    EXPECT_EQ(ValidUtf8("a\xC3"), "a" + replacement);            // truncated at end
    EXPECT_EQ(ValidUtf8("\xC0\xAF"), replacement + replacement); // overlong
    EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), replacement + replacement + replacement); // surrogate
    EXPECT_EQ(ValidUtf8("\xF4\x90\x80\x80"), std::string() + replacement + replacement +
                                                 replacement + replacement); // above U+10FFFF
    EXPECT_EQ(ValidUtf8("\xE6\x9D"
                        "x"),
              replacement + replacement + "x");
}

TEST(ProviderOfBindPath, OnlyTheTwoRootDsePathsBind) {
    EXPECT_EQ(ProviderOfBindPath("LDAP://rootDSE"), Provider::Ldap);
    EXPECT_EQ(ProviderOfBindPath("GC://rootDSE"), Provider::GlobalCatalog);
    for (const char* path : {"ldap://rootDSE", "GC://rootdse", "WinNT://rootDSE", "://rootDSE",
                             "LDAP://server/rootDSE", "LDAP://rootDSE/", ""}) {
        EXPECT_EQ(ProviderOfBindPath(path), std::nullopt) << path;
    }
}

TEST(UrisForProvider, CatalogUsesTheSameHostsOnItsOwnPorts) {
    const std::string list = "ldap://dc1.example:389 ldaps://dc2.example, ldapi:///run/x "
                             "ldap://[::1]:1389";
    EXPECT_EQ(UrisForProvider(list, Provider::Ldap),
              (std::vector<std::string>{"ldap://dc1.example:389", "ldaps://dc2.example",
                                        "ldapi:///run/x", "ldap://[::1]:1389"}));
    EXPECT_EQ(UrisForProvider(list, Provider::GlobalCatalog),
              (std::vector<std::string>{"ldap://dc1.example:3268", "ldaps://dc2.example:3269",
                                        "ldap://[::1]:3268"}));
    EXPECT_TRUE(UrisForProvider("not a uri", Provider::Ldap).empty());
}

TEST(OrderSrvRecords, LowestPriorityFirstThenByWeight) {
    std::vector<SrvRecord> records = {
        {10, 0, 389, "backup"}, {0, 10, 389, "light"}, {0, 90, 389, "heavy"}, {5, 0, 389, "mid"}};
    // A random source that always picks the top of the range favours the last record of a group.
    auto top = OrderSrvRecords(records, [](std::uint32_t n) { return n; });
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(top[0].target, "heavy");
    EXPECT_EQ(top[1].target, "light");
    EXPECT_EQ(top[2].target, "mid");
    EXPECT_EQ(top[3].target, "backup");
    auto bottom = OrderSrvRecords(records, [](std::uint32_t) { return 1u; });
    EXPECT_EQ(bottom[0].target, "light");
    EXPECT_EQ(bottom[1].target, "heavy");

    // With real randomness a weight of 90 against 10 wins most of the time.
    std::mt19937 generator(7);
    int heavyFirst = 0;
    for (int i = 0; i < 1000; ++i) {
        auto order = OrderSrvRecords(records, [&](std::uint32_t n) {
            return std::uniform_int_distribution<std::uint32_t>(0, n)(generator);
        });
        heavyFirst += order[0].target == "heavy";
    }
    EXPECT_GT(heavyFirst, 800);
    EXPECT_LT(heavyFirst, 980);
}

// Replies to an SRV question that a sound server would not send, and the records that remain.
struct SrvReplyCase {
    const char* name;
    std::function<std::string(const testing::DnsQuery&)> reply;
    std::vector<SrvRecord> records;
};

const SrvReplyCase kSrvReplies[] = {
    {"TwoSoundRecords",
     [](const testing::DnsQuery& query) {
         return testing::DnsReply(
             query, {testing::SrvAnswer(0, 100, 389, testing::DnsName("dc1.x.test")),
                     testing::SrvAnswer(10, 0, 3268, testing::DnsName("gc1.x.test"))});
     },
     {{0, 100, 389, "dc1.x.test"}, {10, 0, 3268, "gc1.x.test"}}},
    // The first record's target says "dc1" and then runs on into the next record's first bytes,
    // its owner name's pointer back to the question: a target that its record does not hold.
    {"TargetMustLieWithinItsOwnRecord",
     [](const testing::DnsQuery& query) {
         return testing::DnsReply(
             query, {testing::SrvAnswer(0, 0, 389,
                                        "\x03"
                                        "dc1"),
                     testing::SrvAnswer(5, 10, 3268, testing::DnsName("gc1.x.test"))});
     },
     {{5, 10, 3268, "gc1.x.test"}}},
    {"CompressionPointerLoop",
     [](const testing::DnsQuery& query) {
         const auto self = static_cast<unsigned>(testing::FirstSrvTargetOffset(query));
         const std::string loop{static_cast<char>(0xC0 | (self >> 8)),
                                static_cast<char>(self & 0xFF)};
         return testing::DnsReply(query, {testing::SrvAnswer(0, 0, 389, loop)});
     },
     {}},
    {"MoreAnswersCountedThanSent",
     [](const testing::DnsQuery& query) {
         return testing::DnsReply(
             query, {testing::SrvAnswer(0, 0, 389, testing::DnsName("dc1.x.test"))}, 0, false, 5);
     },
     {}},
    {"TargetDotServiceNotOffered",
     [](const testing::DnsQuery& query) {
         return testing::DnsReply(query, {testing::SrvAnswer(0, 0, 389, testing::DnsName(""))});
     },
     {}},
};

TEST(ParseSrvAnswer, OnlyRecordsWhoseTargetsLieWithinThemAndNameAHost) {
    testing::DnsQuery query;
    query.name = "_ldap._tcp.x.test";
    query.question = testing::DnsName(query.name) + std::string("\0\x21\0\x01", 4);
    for (const auto& c : kSrvReplies) {
        const std::string reply = c.reply(query);
        EXPECT_EQ(
            ParseSrvAnswer(reinterpret_cast<const unsigned char*>(reply.data()), reply.size()),
            c.records)
            << c.name;
    }
}

TEST(NumericAddress, LiteralsNeedNoLookupAndKeepTheirScope) {
    const auto scoped = NumericAddress("fe80::1%lo", 389);
    ASSERT_TRUE(scoped);
    ASSERT_EQ(scoped->ss_family, AF_INET6);
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(*scoped);
    EXPECT_EQ(v6.sin6_scope_id, ::if_nametoindex("lo"));
    EXPECT_EQ(ntohs(v6.sin6_port), 389);
    const auto v4 = NumericAddress("127.0.0.10", 3268);
    ASSERT_TRUE(v4);
    EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in&>(*v4).sin_port), 3268);
    EXPECT_EQ(NumericAddress("dc1.quindral.test", 389), std::nullopt);
}

TEST(DnsNameOfNamingContext, DomainComponentsInOrder) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"DC=lab,DC=example,DC=test", "lab.example.test"},
        {"dc=Lab, dc=Example ,DC=test", "Lab.Example.test"},
        {"CN=Configuration,DC=quindral,DC=test", "quindral.test"},
        {"O=plain", std::nullopt},
        {"", std::nullopt},
        {"DC=,DC=test", "test"},
    };
    for (const auto& [dn, name] : cases) {
        EXPECT_EQ(DnsNameOfNamingContext(dn), name) << dn;
    }
}

struct DomainsCase {
    const char* name;
    std::optional<std::string> realm = std::nullopt;
    std::optional<std::string> hostDomain = std::nullopt;
    std::vector<std::string> searchList = {};
    std::vector<std::string> domains;
};

TEST(DomainsToSearch, RealmThenTheHostsDomainThenTheSearchListEachOnce) {
    const DomainsCase cases[] = {
        {.name = "joined host named in another zone",
         .realm = "LAB.EXAMPLE.TEST",
         .hostDomain = "corp.other.test",
         .searchList = {"corp.other.test"},
         .domains = {"lab.example.test", "corp.other.test"}},
        {.name = "no realm",
         .hostDomain = "corp.other.test",
         .searchList = {"corp.other.test", "lab.example.test"},
         .domains = {"corp.other.test", "lab.example.test"}},
        {.name = "realm of the host's own domain",
         .realm = "QUINDRAL.TEST",
         .hostDomain = "Quindral.Test",
         .domains = {"quindral.test"}},
        {.name = "realm that is not a DNS name",
         .realm = "LAB EXAMPLE",
         .hostDomain = "x.test",
         .domains = {"x.test"}},
        {.name = "realm with an underscore", .realm = "LAB_X.TEST", .domains = {}},
        {.name = "realm with a trailing dot", .realm = "LAB.TEST.", .domains = {}},
        {.name = "search list with duplicates",
         .searchList = {"a.test", "A.TEST", "b.test", "a.test."},
         .domains = {"a.test", "b.test"}},
        {.name = "bare host name, resolver's domain",
         .searchList = {"corp.test"},
         .domains = {"corp.test"}},
        {.name = "empty everything", .domains = {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DomainsToSearch(c.realm, c.hostDomain, c.searchList), c.domains) << c.name;
    }
}

} // namespace
} // namespace quindral
