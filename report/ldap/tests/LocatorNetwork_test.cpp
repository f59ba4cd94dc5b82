// How a server is found: DNS SRV records served by a real dnsmasq (with scripted domain
// controllers answering LDAP pings), or a configured URI list, ahead of real slapd servers and
// hung ones, inside a private network.

#include "LdapTestSupport.h"
#include "ScriptedDns.h"
#include "ScriptedPing.h"
#include "ScriptedServer.h"
#include "TestNetwork.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sys/stat.h>

namespace quindral::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Answer = ScriptedPing::Answer;

const std::string kResolvConf = "nameserver 127.0.0.53\noptions timeout:1 attempts:2\n";

std::string SrvHost(const std::string& name, const std::string& target, int port, int priority) {
    return "srv-host=" + name + "," + target + "," + std::to_string(port) + "," +
           std::to_string(priority) + ",100\n";
}

std::string HostRecord(const std::string& name, const std::string& address) {
    return "host-record=" + name + "," + address + "\n";
}

// The domain of every route case: dc1 (127.0.0.10) in the default site, dc2 (127.0.0.11) in
// SiteB, and a global catalog gc1 (127.0.0.12), each with a root entry of its own.
const std::string kHosts = HostRecord("dc1.quindral.test", "127.0.0.10") +
                           HostRecord("dc2.quindral.test", "127.0.0.11") +
                           HostRecord("gc1.quindral.test", "127.0.0.12");
const std::string kDomainControllers =
    SrvHost("_ldap._tcp.dc._msdcs.quindral.test", "dc1.quindral.test", 389, 0) +
    SrvHost("_ldap._tcp.dc._msdcs.quindral.test", "dc2.quindral.test", 389, 10);
const std::string kSiteB =
    SrvHost("_ldap._tcp.SiteB._sites.dc._msdcs.quindral.test", "dc2.quindral.test", 389, 0);
const std::string kCatalog =
    SrvHost("_ldap._tcp.gc._msdcs.quindral.test", "gc1.quindral.test", 3268, 0);

// What `realm join` writes into krb5.conf.
const std::string kRealm =
    "[libdefaults]\n\tdefault_realm = QUINDRAL.TEST\n\tdns_lookup_realm = false\n";

// dc1 answers a ping from SiteB as the DC of another site; dc2 as the site's own.
ScriptedPing::Responder Dc1(Answer answer) {
    return {"127.0.0.10", answer,
            DcReply("dc1.quindral.test", kWritableDcFlags, "Default-First-Site-Name", "SiteB")};
}
ScriptedPing::Responder Dc2(Answer answer) {
    return {"127.0.0.11", answer,
            DcReply("dc2.quindral.test", kWritableDcFlags | kDsClosestFlag, "SiteB", "SiteB")};
}

struct RouteCase {
    const char* name;
    const char* hostName = "ws1.quindral.test";
    std::string resolvExtra = "";
    std::string krb5Conf = "";
    std::string smbConf = "";
    std::string records = kDomainControllers;
    std::vector<ScriptedPing::Responder> pings = {};
    const char* provider = "LDAP";
    const char* reportOf = "dc1"; // whose root entry the report must show
    int searches[3] = {1, 0, 0};  // searches that dc1, dc2 and gc1 must have served
    // Where the time is the behaviour (a decision at once, a stagger), its bound, with slack.
    std::chrono::milliseconds bound = std::chrono::seconds(5);

    friend void PrintTo(const RouteCase& c, std::ostream* out) { *out << c.name; }
};

// Which server answers, through real DNS, real UDP and real slapd servers; when each starts is the
// schedule's, which its own table covers, and the rows with a bound check that the poll loop keeps
// its times.
const RouteCase kRoutes[] = {
    // The better record first; one connection and one search, no bind.
    {.name = "BetterRecordFromTheHostsFullName"},
    {.name = "BetterRecordFromTheResolversSearchDomain",
     .hostName = "client",
     .resolvExtra = "search quindral.test\n"},
    {.name = "DomainFromTheResolversDomainLine",
     .hostName = "client",
     .resolvExtra = "domain quindral.test\n"},
    // The domain a host is joined to, whose name lives in another zone.
    {.name = "JoinedRealmInAnotherZoneThanTheHostsName",
     .hostName = "ws1.corp.other.test",
     .krb5Conf = kRealm},
    {.name = "DomainSecondInTheSearchList",
     .hostName = "ws1.corp.other.test",
     .resolvExtra = "search corp.other.test quindral.test\n"},
    // A host in another zone joined by winbind, with Debian's template realm in krb5.conf.
    {.name = "JoinedThroughSambaInAnotherZone",
     .hostName = "ws1.corp.other.test",
     .krb5Conf = "[libdefaults]\n\tdefault_realm = ATHENA.MIT.EDU\n",
     .smbConf = "[global]\n   security = ads\n   realm = QUINDRAL.TEST\n"},
    // The joined domain's only DC refuses: the next domain that has records is asked.
    {.name = "JoinedDomainLeadingNowhereThenTheHostsDomain",
     .smbConf = "[global]\n   security = ads\n   realm = DEAD.TEST\n",
     .records = kDomainControllers + HostRecord("dc1.dead.test", "127.0.0.20") +
                SrvHost("_ldap._tcp.dc._msdcs.dead.test", "dc1.dead.test", 389, 0)},
    {.name = "RealmWithoutRecordsThenTheHostsDomain",
     .krb5Conf = "[libdefaults]\n\tdefault_realm = NOWHERE.TEST\n"},
    {.name = "CatalogFromItsRecords",
     .records = kDomainControllers + kCatalog,
     .provider = "GC",
     .reportOf = "gc1",
     .searches = {0, 0, 1}},
    // A child domain has no catalog records: the forest root is where they stand, as its DC
    // says in its ping reply, or else in its root entry.
    {.name = "CatalogUnderTheForestFromAPing",
     .hostName = "ws1.child.quindral.test",
     .records = SrvHost("_ldap._tcp.dc._msdcs.child.quindral.test", "dc1.quindral.test", 389, 0) +
                kCatalog,
     .pings = {{"127.0.0.10", Answer::Reply,
                DcReply("dc1.child.quindral.test", kWritableDcFlags | kDsClosestFlag, "S", "S")},
               {"127.0.0.12", Answer::Reply,
                DcReply("gc1.quindral.test", kWritableDcFlags | kDsClosestFlag, "S", "S")}},
     .provider = "GC",
     .reportOf = "gc1",
     .searches = {0, 0, 1}},
    {.name = "CatalogUnderTheForestFromARootEntry",
     .hostName = "ws1.child.quindral.test",
     .records = SrvHost("_ldap._tcp.dc._msdcs.child.quindral.test", "dc1.quindral.test", 389, 0) +
                kCatalog,
     .provider = "GC",
     .reportOf = "gc1",
     .searches = {1, 0, 1}},
    // Sites: the client is in SiteB, whose DC is the second record.
    {.name = "ClientsSiteDcFirst",
     .records = kDomainControllers + kSiteB,
     .pings = {Dc1(Answer::Reply), Dc2(Answer::Reply)},
     .reportOf = "dc2",
     .searches = {0, 1, 0},
     .bound = std::chrono::milliseconds(1000)},
    // Only the pinged address may answer a ping, and only to its message. With no usable reply the
    // records' order holds, a stagger after the pings.
    {.name = "ReplyToAnotherMessageIgnored",
     .records = kDomainControllers + kSiteB,
     .pings = {Dc1(Answer::WrongMessageId), Dc2(Answer::Silent)},
     .bound = std::chrono::milliseconds(1000)},
    {.name = "ReplyFromAnotherAddressIgnored",
     .records = kDomainControllers + kSiteB,
     .pings = {Dc1(Answer::FromAnotherAddress), Dc2(Answer::Silent)},
     .bound = std::chrono::milliseconds(1000)},
};

class RouteTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteTest, ReportOfTheServerTheLocatorChooses) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const auto& param = GetParam();
    const std::string hostName = param.hostName;
    TestHost host(hostName, kResolvConf + param.resolvExtra,
                  "127.0.0.1 localhost\n127.0.1.1 " + hostName + "\n", param.krb5Conf,
                  param.smbConf);
    DnsmasqServer dns(kHosts + param.records);
    const SlapdServer servers[] = {SlapdServer({"127.0.0.10", {389}, "ad-ldap.ldif"}),
                                   SlapdServer({"127.0.0.11", {389}, "ad-ldap-siteb.ldif"}),
                                   SlapdServer({"127.0.0.12", {3268}, "ad-gc.ldif"})};
    std::unique_ptr<ScriptedPing> pings;
    if (!param.pings.empty()) {
        pings = std::make_unique<ScriptedPing>(param.pings);
    }

    const auto [report, took] = TimedFetch(param.provider);
    EXPECT_EQ(FirstLine(report), std::string("Contacting ") + param.provider + "://rootDSE");
    EXPECT_NE(report.find(std::string("  dnsHostName: ") + param.reportOf + ".quindral.test\r\n"),
              std::string::npos)
        << report;
    EXPECT_LT(took, param.bound);
    for (std::size_t i = 0; i < std::size(servers); ++i) {
        const std::string log = servers[i].StatsLog();
        EXPECT_EQ(CountLogLines(log, " SRCH base="), param.searches[i]) << "server " << i << log;
        EXPECT_EQ(CountLogLines(log, " BIND "), 0) << log;
        if (param.searches[i] > 0) {
            EXPECT_EQ(CountClientConnections(log), 1) << log;
        }
    }
    if (pings) {
        const auto received = pings->Received();
        EXPECT_FALSE(received.empty()) << "no domain controller was pinged";
        for (const auto& ping : received) {
            EXPECT_EQ(ping.ntVersion, kPingNtVersion);
            EXPECT_TRUE(ping.dnsDomain == "quindral.test" ||
                        ping.dnsDomain == "child.quindral.test")
                << ping.dnsDomain;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, RouteTest, ::testing::ValuesIn(kRoutes),
                         [](const auto& info) { return std::string(info.param.name); });

// A branch office behind a far resolver: every DNS answer comes 40 ms late, and SiteB's DC is
// named only in its site's records, so that its address is still being looked up when those
// records come. The client in SiteB must get that DC, not the one of the other site that
// answered its ping.
TEST(FarResolverTest, ClientsSiteDcNamedOnlyInItsSiteRecordsWins) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    TestHost host("ws1.quindral.test", kResolvConf,
                  "127.0.0.1 localhost\n127.0.1.1 ws1.quindral.test\n");
    const std::map<std::string, std::string> srv = {
        {"_ldap._tcp.dc._msdcs.quindral.test", "dc1.quindral.test"},
        {"_ldap._tcp.SiteB._sites.dc._msdcs.quindral.test", "dc2.quindral.test"}};
    const std::map<std::string, std::string> hosts = {{"dc1.quindral.test", "127.0.0.10"},
                                                      {"dc2.quindral.test", "127.0.0.11"}};
    ScriptedDns far(
        [&](const DnsQuery& query, bool) -> std::optional<std::string> {
            if (query.type == kTypeSrv && srv.contains(query.name)) {
                return DnsReply(query, {SrvAnswer(0, 100, 389, DnsName(srv.at(query.name)))});
            }
            if (query.type == kTypeA && hosts.contains(query.name)) {
                return DnsReply(query, {AAnswer(hosts.at(query.name))});
            }
            const bool known = srv.contains(query.name) || hosts.contains(query.name);
            return DnsReply(query, {}, known ? 0 : kRcodeNxDomain);
        },
        kTestNameserver, std::chrono::milliseconds(40));
    ScriptedPing pings({Dc1(Answer::Reply)});
    SlapdServer dc1({"127.0.0.10", {389}, "ad-ldap.ldif"});
    SlapdServer dc2({"127.0.0.11", {389}, "ad-ldap-siteb.ldif"});

    const auto [report, took] = TimedFetch("LDAP");
    EXPECT_NE(report.find("  dnsHostName: dc2.quindral.test\r\n"), std::string::npos) << report;
    EXPECT_EQ(CountLogLines(dc1.StatsLog(), " SRCH base="), 0);
    EXPECT_LT(took, std::chrono::seconds(5));
}

// A zone that never answers, among the client's domains: Debian's template realm left in
// krb5.conf, which is never asked; or the host's own zone, which holds the click a stagger at most
// once the joined realm's records have answered.
struct SilentZoneCase {
    const char* name;
    const char* hostName;
    const char* realm;
    const char* silentZone;
    bool asked; // whether the silent zone may be asked at all

    friend void PrintTo(const SilentZoneCase& c, std::ostream* out) { *out << c.name; }
};

class SilentZoneTest : public ::testing::TestWithParam<SilentZoneCase> {};

TEST_P(SilentZoneTest, ClickIsNotHeldByIt) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const auto& param = GetParam();
    TestHost host(param.hostName, kResolvConf,
                  std::string("127.0.0.1 localhost\n127.0.1.1 ") + param.hostName + "\n",
                  std::string("[libdefaults]\n\tdefault_realm = ") + param.realm + "\n");
    const std::string silent = param.silentZone;
    std::atomic<int> silentQueries{0};
    std::atomic<int> searched{0}; // the DC's name from its SRV record, under a search domain
    ScriptedDns dns(OneDcDomain("127.0.0.10", silent, [&](const DnsQuery& query) {
        searched += query.name.starts_with("dc1.quindral.test.") ? 1 : 0;
        silentQueries += query.name.ends_with(silent) ? 1 : 0;
    }));
    SlapdServer dc1({"127.0.0.10", {389}, "ad-ldap.ldif"});
    const auto [report, took] = TimedFetch("LDAP");
    EXPECT_EQ(report, kAdLdapReport);
    // The silent zone's lookups would take 2 s (timeout:1 attempts:2); a stagger is 0.25 s.
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    if (!param.asked) {
        EXPECT_EQ(silentQueries, 0);
    }
    EXPECT_EQ(searched, 0) << "an SRV record's target was looked up under the search list";
}

INSTANTIATE_TEST_SUITE_P(Routes, SilentZoneTest,
                         ::testing::Values(SilentZoneCase{.name = "TemplateRealmIsNeverAsked",
                                                          .hostName = "ws1.quindral.test",
                                                          .realm = "ATHENA.MIT.EDU",
                                                          .silentZone = "athena.mit.edu",
                                                          .asked = false},
                                           SilentZoneCase{
                                               .name = "SilentHostZoneWaitedAStaggerAfterTheRealm",
                                               .hostName = "ws1.silent.test",
                                               .realm = "QUINDRAL.TEST",
                                               .silentZone = "silent.test",
                                               .asked = true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Another domain of the client's (here its krb5.conf realm) publishes a plain _ldap._tcp record
// for an LDAP server: Active Directory's own records of the host's domain go first, for both
// providers.
class PlainRecordOfAnotherDomainTest : public ::testing::TestWithParam<const char*> {};

TEST_P(PlainRecordOfAnotherDomainTest, ClientsOwnDomainControllersWin) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const std::string provider = GetParam();
    TestHost host("ws1.quindral.test", kResolvConf,
                  "127.0.0.1 localhost\n127.0.1.1 ws1.quindral.test\n",
                  "[libdefaults]\n\tdefault_realm = OTHER.TEST\n");
    DnsmasqServer dns(kHosts + kDomainControllers + kCatalog +
                      HostRecord("solo.other.test", "127.0.0.13") +
                      SrvHost("_ldap._tcp.other.test", "solo.other.test", 389, 0));
    const SlapdServer dc1({"127.0.0.10", {389}, "ad-ldap.ldif"});
    const SlapdServer gc1({"127.0.0.12", {3268}, "ad-gc.ldif"});
    const SlapdServer solo({"127.0.0.13", {389}, "one-naming-context.ldif"});
    const auto [report, took] = TimedFetch(provider);
    EXPECT_EQ(report, provider == "GC" ? kAdGcReport : kAdLdapReport);
    EXPECT_EQ(CountLogLines(solo.StatsLog(), " SRCH base="), 0);
}

INSTANTIATE_TEST_SUITE_P(Routes, PlainRecordOfAnotherDomainTest, ::testing::Values("LDAP", "GC"),
                         [](const auto& info) { return std::string(info.param); });

// Five domain controllers whose names never resolve, ahead of a live one: they hold no place in
// the pings' batch, so the live DC is pinged and connected to at once, not after their lookups
// fail (2 s here, 15 s with resolv.conf's defaults).
TEST(UnresolvableNamesTest, LiveDcBehindThemAnswersWithinASecond) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    TestHost host("ws1.quindral.test", kResolvConf,
                  "127.0.0.1 localhost\n127.0.1.1 ws1.quindral.test\n");
    ScriptedDns dns([](const DnsQuery& query, bool) -> std::optional<std::string> {
        if (query.type == kTypeSrv && query.name == "_ldap._tcp.dc._msdcs.quindral.test") {
            std::vector<std::string> answers;
            for (int i = 1; i <= 5; ++i) {
                answers.push_back(
                    SrvAnswer(0, 100, 389, DnsName("lost" + std::to_string(i) + ".quindral.test")));
            }
            answers.push_back(SrvAnswer(10, 100, 389, DnsName("dc1.quindral.test")));
            return DnsReply(query, answers);
        }
        if (query.name == "dc1.quindral.test") {
            return DnsReply(query, query.type == kTypeA ? std::vector{AAnswer("127.0.0.10")}
                                                        : std::vector<std::string>{});
        }
        if (query.name.starts_with("lost")) {
            return std::nullopt; // never answered
        }
        return DnsReply(query, {}, kRcodeNxDomain);
    });
    ScriptedPing pings(
        {{"127.0.0.10", Answer::Reply,
          DcReply("dc1.quindral.test", kWritableDcFlags | kDsClosestFlag, "S", "S")}});
    SlapdServer dc1({"127.0.0.10", {389}, "ad-ldap.ldif"});
    const auto [report, took] = TimedFetch("LDAP");
    EXPECT_EQ(report, kAdLdapReport);
    EXPECT_LT(took, std::chrono::seconds(1)); // about 0.1 s expected
}

// The administrator's URI order is a preference: the first URI, a name still being looked up, is
// reported rather than the numeric second that needs no lookup.
TEST(UriOrderTest, FirstUriWinsOverANumericSecond) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    TestHost host("ws1.quindral.test", kResolvConf);
    DnsmasqServer dns(kHosts);
    const SlapdServer servers[] = {SlapdServer({"127.0.0.10", {389}, "ad-ldap.ldif"}),
                                   SlapdServer({"127.0.0.11", {389}, "ad-ldap-siteb.ldif"})};
    ClientConfiguration configuration("ldap://dc1.quindral.test ldap://127.0.0.11");
    const auto [report, took] = TimedFetch("LDAP");
    EXPECT_NE(report.find("  dnsHostName: dc1.quindral.test\r\n"), std::string::npos) << report;
    EXPECT_EQ(CountLogLines(servers[1].StatsLog(), " SRCH base="), 0);
}

// Three servers that accept the connection and never answer, ahead of a live one.
struct DeadFirstCase {
    const char* name;
    const char* provider;
    bool throughDns;

    friend void PrintTo(const DeadFirstCase& c, std::ostream* out) { *out << c.name; }
};

class DeadServersFirstTest : public ::testing::TestWithParam<DeadFirstCase> {};

TEST_P(DeadServersFirstTest, LiveServerAnswersWithinTheStaggerNotAfterTheTimeouts) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const auto& param = GetParam();
    const bool catalog = std::string(param.provider) == "GC";
    const int port = catalog ? 3268 : 389;
    const std::string name = catalog ? "_gc._tcp.quindral.test" : "_ldap._tcp.quindral.test";
    TestHost host("ws1.quindral.test", kResolvConf);
    std::vector<std::unique_ptr<ScriptedServer>> silent;
    std::string records;
    std::string uris;
    for (int i = 1; i <= 3; ++i) {
        const std::string address = "127.0.0.2" + std::to_string(i);
        silent.push_back(SilentServer(address, port));
        records += HostRecord("hung" + std::to_string(i) + ".quindral.test", address) +
                   SrvHost(name, "hung" + std::to_string(i) + ".quindral.test", port, i);
        uris += "ldap://" + address + " ";
    }
    records += HostRecord("live.quindral.test", "127.0.0.10") +
               SrvHost(name, "live.quindral.test", port, 10);
    DnsmasqServer dns(records);
    SlapdServer live({"127.0.0.10", {port}, catalog ? "ad-gc.ldif" : "ad-ldap.ldif"});
    std::unique_ptr<ClientConfiguration> configured;
    if (!param.throughDns) {
        configured = std::make_unique<ClientConfiguration>(uris + "ldap://127.0.0.10");
    }

    const auto [report, took] = TimedFetch(param.provider);
    EXPECT_EQ(report, catalog ? kAdGcReport : kAdLdapReport);
    // Three staggers (0.75 s); each hung server would hold a one-at-a-time run for the whole 15 s
    // search timeout.
    EXPECT_LT(took, std::chrono::seconds(2));
    for (const auto& server : silent) {
        EXPECT_EQ(server->connections(), 1);
    }
    EXPECT_EQ(CountLogLines(live.StatsLog(), " SRCH base="), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Routes, DeadServersFirstTest,
    ::testing::Values(
        DeadFirstCase{.name = "LdapThroughSrv", .provider = "LDAP", .throughDns = true},
        DeadFirstCase{.name = "CatalogThroughSrv", .provider = "GC", .throughDns = true},
        DeadFirstCase{.name = "LdapThroughUriList", .provider = "LDAP", .throughDns = false},
        DeadFirstCase{.name = "CatalogThroughUriList", .provider = "GC", .throughDns = false}),
    [](const auto& info) { return std::string(info.param.name); });

class AllDeadTest : public ::testing::TestWithParam<bool> {};

TEST_P(AllDeadTest, FailedBindReportWithinNetworkTimeoutPlusTimeout) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    TestHost host("ws1.quindral.test", kResolvConf);
    // So many that their staggered starts alone (23 x 0.25 s) outlast the 3 s deadline.
    constexpr int kServers = 24;
    std::vector<std::unique_ptr<ScriptedServer>> silent;
    std::string records;
    std::string uris;
    for (int i = 1; i <= kServers; ++i) {
        const std::string address = "127.0.3." + std::to_string(i);
        silent.push_back(SilentServer(address, 389));
        records += HostRecord("hung" + std::to_string(i) + ".quindral.test", address) +
                   SrvHost("_ldap._tcp.dc._msdcs.quindral.test",
                           "hung" + std::to_string(i) + ".quindral.test", 389, i);
        uris += "ldap://" + address + " ";
    }
    DnsmasqServer dns(records);
    ClientConfiguration configuration(GetParam() ? "" : uris, 1, 2);
    const auto [report, took] = TimedFetch("LDAP");
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_LT(took, std::chrono::milliseconds(3000 + 1500));
}

INSTANTIATE_TEST_SUITE_P(Routes, AllDeadTest, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "ThroughSrv" : "ThroughUriList");
});

// A resolver that never answers: every lookup would hold the click for resolv.conf's timeouts.
TEST(SilentResolverTest, ClickEndsWithinTheDeadlineLookupsIncluded) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    // A bare host name, which the program looks up for its domain.
    TestHost host("client", "nameserver 127.0.0.53\nsearch quindral.test\n"
                            "options timeout:5 attempts:2\n");
    ScriptedDns silent([](const DnsQuery&, bool) { return std::nullopt; });
    ClientConfiguration configuration("", 1, 2);
    const auto [report, took] = TimedFetch("GC");
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_LT(took, std::chrono::milliseconds(3000 + 1500));
}

// Files that libkrb5 opens as the join's evidence is gathered and that no check made beforehand
// foresees, each a FIFO that nobody writes: the click still ends by its deadline (1 s + 1 s here),
// its evidence counting as none, and the program's end does not wait for the reader.
struct HostileKerberosCase {
    const char* name;
    std::string krb5Conf; // @FIFO@ stands for the FIFO's path
    std::string environment = "";
    const char* fifoName = "fifo";

    friend void PrintTo(const HostileKerberosCase& c, std::ostream* out) { *out << c.name; }
};

class HostileKerberosTest : public ::testing::TestWithParam<HostileKerberosCase> {};

TEST_P(HostileKerberosTest, ClickEndsByItsDeadline) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const auto& param = GetParam();
    TestHost host("ws1.quindral.test", kResolvConf);
    DnsmasqServer dns(kHosts + kDomainControllers);
    TempDirectory dir;
    const std::string fifo = (dir.path() / param.fifoName).string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto withFifo = [&](std::string text) {
        for (std::size_t at; (at = text.find("@FIFO@")) != std::string::npos;) {
            text.replace(at, 6, fifo);
        }
        return text;
    };
    std::ofstream(dir.path() / "krb5.conf") << withFifo(param.krb5Conf);
    const auto start = Clock::now();
    int status = -1;
    const std::string report =
        Probe("KRB5_CONFIG=" + (dir.path() / "krb5.conf").string() + " " +
                  withFifo(param.environment) + " LDAPNETWORK_TIMEOUT=1 LDAPTIMEOUT=1 timeout 20",
              "LDAP", &status);
    const auto took = Clock::now() - start;
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_EQ(status, 0);
    EXPECT_LT(took, std::chrono::seconds(4));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileKerberosTest,
    ::testing::Values(HostileKerberosCase{.name = "TraceFileNamedByKrb5Trace",
                                          .krb5Conf = kRealm,
                                          .environment = "KRB5_TRACE=@FIFO@"},
                      // libkrb5 strips only CR and LF from an include line's path: it opens "fifo
                      // ", where nothing stands at "fifo".
                      HostileKerberosCase{.name = "IncludeWithATrailingSpace",
                                          .krb5Conf = "include @FIFO@\n" + kRealm,
                                          .fifoName = "fifo "}),
    [](const auto& info) { return std::string(info.param.name); });

// HOSTALIASES, which glibc and c-ares honour for a name without a dot: an alias file gives the name
// that getent finds in the same test host (the alias's name in DNS); a FIFO there, or an endless
// file, gives no alias and never holds the click (each would block c-ares' own reading of it, or
// spin it, for ever).
TEST(HostAliasesTest, AliasAsTheSystemFindsItAndNoHostileFileHoldsTheClick) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    TestHost host("ws1.quindral.test", kResolvConf, "127.0.0.1 localhost\n127.0.0.10 dc1\n");
    DnsmasqServer dns(HostRecord("dc1.quindral.test", "127.0.0.10"));
    SlapdServer dc1({"127.0.0.10", {389}, "ad-ldap.ldif"});
    TempDirectory dir;
    const std::string file = (dir.path() / "aliases").string();
    const std::string fifo = (dir.path() / "fifo").string();
    std::ofstream(file) << "other somewhere.test\ndcAlias dc1.quindral.test\n";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(
        std::system(
            ("HOSTALIASES=" + file + " getent ahosts dcalias | grep -q '^127.0.0.10 '").c_str()),
        0);
    const struct {
        std::string aliases;
        const char* uri;
    } kRows[] = {{file, "ldap://dcalias"}, {fifo, "ldap://dc1"}, {"/dev/zero", "ldap://dc1"}};
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.aliases);
        const auto start = Clock::now();
        const std::string report = Probe("HOSTALIASES=" + row.aliases + " LDAPURI=" + row.uri +
                                             " LDAPNETWORK_TIMEOUT=1 LDAPTIMEOUT=1 timeout 20",
                                         "LDAP");
        EXPECT_EQ(report, kAdLdapReport);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    }
}

// A hosts file of 20 MB (700,000 names) beside thirty SRV targets: it is read once, or not at all
// when it is too large to index, never again for each target's lookups, so the click still ends
// by its deadline (1 s + 1 s) with dc1's report.
TEST(HugeHostsFileTest, ClickEndsByItsDeadline) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    std::string hosts = "127.0.0.1 localhost\n";
    for (int i = 0; hosts.size() < (std::size_t{20} << 20); ++i) {
        hosts += "10." + std::to_string(i % 250) + "." + std::to_string(i / 250 % 250) +
                 ".1 filler" + std::to_string(i) + ".quindral.test\n";
    }
    TestHost host("ws1.quindral.test", kResolvConf, hosts);
    std::string targets;
    for (int i = 0; i < 30; ++i) {
        targets += SrvHost("_ldap._tcp.dc._msdcs.quindral.test",
                           "t" + std::to_string(i) + ".quindral.test", 389, 10);
    }
    DnsmasqServer dns(kHosts + kDomainControllers + targets);
    SlapdServer dc1({"127.0.0.10", {389}, "ad-ldap.ldif"});
    const auto start = Clock::now();
    const std::string report = Probe("LDAPNETWORK_TIMEOUT=1 LDAPTIMEOUT=1 timeout 60", "LDAP");
    EXPECT_EQ(report, kAdLdapReport);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
}

// nsswitch.conf's hosts line as glibc applies it, beside getent in the same test host: the hosts
// file sends both.quindral.test to dc1 (127.0.0.10) and DNS to dc2 (127.0.0.11); fileonly and
// dnsonly stand in one source each.
TEST(NsswitchTest, NamesFoundWhereGetentFindsThem) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    TestHost host("ws1.quindral.test", kResolvConf,
                  "127.0.0.1 localhost\n127.0.0.10 both.quindral.test fileonly.quindral.test\n");
    DnsmasqServer dns(HostRecord("both.quindral.test", "127.0.0.11") +
                      HostRecord("dnsonly.quindral.test", "127.0.0.10"));
    const SlapdServer servers[] = {SlapdServer({"127.0.0.10", {389}, "ad-ldap.ldif"}),
                                   SlapdServer({"127.0.0.11", {389}, "ad-ldap-siteb.ldif"})};
    const struct {
        const char* services;
        const char* name;
        const char* address; // where getent finds it; none: not found
    } kRows[] = {
        {"files [NOTFOUND=return] dns", "dnsonly.quindral.test", nullptr},
        {"files [NOTFOUND=return] dns", "both.quindral.test", "127.0.0.10"},
        {"dns [!UNAVAIL=return] files", "fileonly.quindral.test", nullptr},
        {"dns [!UNAVAIL=return] files", "both.quindral.test", "127.0.0.11"},
        {"db files dns", "both.quindral.test", "127.0.0.10"},
        {"mdns4_minimal myhostname", "both.quindral.test", nullptr},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(std::string(row.services) + ": " + row.name);
        host.HostsSources(row.services);
        const std::string getent = std::string("getent ahosts ") + row.name;
        FILE* pipe = ::popen(getent.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char first[64] = {};
        const bool found = std::fscanf(pipe, "%63s", first) == 1;
        ::pclose(pipe);
        ASSERT_EQ(found ? std::string(first) : "none", row.address ? row.address : "none");
        const std::string report = Probe(std::string("LDAPURI=ldap://") + row.name +
                                             " LDAPNETWORK_TIMEOUT=1 LDAPTIMEOUT=1",
                                         "LDAP");
        const char* expected = row.address == nullptr ? nullptr
                               : std::string(row.address) == "127.0.0.10"
                                   ? "  dnsHostName: dc1.quindral.test\r\n"
                                   : "  dnsHostName: dc2.quindral.test\r\n";
        if (expected == nullptr) {
            EXPECT_EQ(report, kFailedBindReport);
        } else {
            EXPECT_NE(report.find(expected), std::string::npos) << report;
        }
    }
}

// libldap's first use, in a process of its own, looks up the host's own short name under each of
// three search entries at each of three nameservers that never answer.
TEST(SilentResolverTest, FirstUseOfLibldapEndsWithinTheDeadline) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    TestHost host("ws1", "nameserver 127.0.0.53\nnameserver 127.0.0.54\nnameserver 127.0.0.55\n"
                         "search a.quindral.test b.quindral.test c.quindral.test\n");
    const auto silent = [](const DnsQuery&, bool) { return std::nullopt; };
    ScriptedDns first(silent, "127.0.0.53"), second(silent, "127.0.0.54"),
        third(silent, "127.0.0.55");
    const auto start = Clock::now();
    const std::string report =
        Probe("LDAPURI=ldap://127.0.0.9:1 LDAPNETWORK_TIMEOUT=2 LDAPTIMEOUT=3", "LDAP");
    const auto took = Clock::now() - start;
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_LT(took, std::chrono::milliseconds(5000 + 500));
}

} // namespace
} // namespace quindral::testing
