// How a server is found: DNS SRV records served by a real dnsmasq (with scripted domain
// controllers answering LDAP pings), or a configured URI list, ahead of real slapd servers and
// hung ones, inside a private network.

#include "LdapTestSupport.h"
#include "ScriptedDns.h"
#include "ScriptedPing.h"
#include "ScriptedServer.h"
#include "TestNetwork.h"

#include <chrono>
#include <cstdlib>

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
    const char* hostName;
    std::string resolvExtra;
    std::string records;
    std::vector<ScriptedPing::Responder> pings;
    bool dc2Hung; // dc2 accepts connections and never answers
    const char* provider;
    const char* reportOf; // whose root entry the report must show
    int searches[3];      // searches that dc1, dc2 and gc1 must have served (dc2 if not hung)
    std::chrono::milliseconds bound;

    friend void PrintTo(const RouteCase& c, std::ostream* out) { *out << c.name; }
};

const RouteCase kRoutes[] = {
    // The better record first; one connection and one search, no bind.
    {"BetterRecordFromTheHostsFullName",
     "ws1.quindral.test",
     "",
     kDomainControllers,
     {},
     false,
     "LDAP",
     "dc1",
     {1, 0, 0},
     std::chrono::seconds(5)},
    {"BetterRecordFromTheResolversSearchDomain",
     "client",
     "search quindral.test\n",
     kDomainControllers,
     {},
     false,
     "LDAP",
     "dc1",
     {1, 0, 0},
     std::chrono::seconds(5)},
    {"CatalogFromItsRecords",
     "ws1.quindral.test",
     "",
     kDomainControllers + kCatalog,
     {},
     false,
     "GC",
     "gc1",
     {0, 0, 1},
     std::chrono::seconds(5)},
    // A child domain has no catalog records: the forest root is where they stand, as its DC
    // says in its ping reply, or else in its root entry.
    {"CatalogUnderTheForestFromAPing",
     "ws1.child.quindral.test",
     "",
     SrvHost("_ldap._tcp.dc._msdcs.child.quindral.test", "dc1.quindral.test", 389, 0) + kCatalog,
     {{"127.0.0.10", Answer::Reply,
       DcReply("dc1.child.quindral.test", kWritableDcFlags | kDsClosestFlag, "S", "S")},
      {"127.0.0.12", Answer::Reply,
       DcReply("gc1.quindral.test", kWritableDcFlags | kDsClosestFlag, "S", "S")}},
     false,
     "GC",
     "gc1",
     {0, 0, 1},
     std::chrono::seconds(5)},
    {"CatalogUnderTheForestFromARootEntry",
     "ws1.child.quindral.test",
     "",
     SrvHost("_ldap._tcp.dc._msdcs.child.quindral.test", "dc1.quindral.test", 389, 0) + kCatalog,
     {},
     false,
     "GC",
     "gc1",
     {1, 0, 1},
     std::chrono::seconds(5)},
    // Sites: the client is in SiteB, whose DC is the second record.
    {"ClientsSiteDcFirst",
     "ws1.quindral.test",
     "",
     kDomainControllers + kSiteB,
     {Dc1(Answer::Reply), Dc2(Answer::Reply)},
     false,
     "LDAP",
     "dc2",
     {0, 1, 0},
     std::chrono::seconds(5)},
    {"ClientsSiteDcSilentOtherSitesDcWithinTwoStaggers",
     "ws1.quindral.test",
     "",
     kDomainControllers + kSiteB,
     {Dc1(Answer::Reply), Dc2(Answer::Silent)},
     true,
     "LDAP",
     "dc1",
     {1, 0, 0},
     std::chrono::milliseconds(1000)},
    {"NoPingAnsweredKeepsTheRecordsOrder",
     "ws1.quindral.test",
     "",
     kDomainControllers + kSiteB,
     {Dc1(Answer::Silent), Dc2(Answer::Silent)},
     false,
     "LDAP",
     "dc1",
     {1, 0, 0},
     std::chrono::milliseconds(1000)},
    {"ReplyToAnotherMessageIgnored",
     "ws1.quindral.test",
     "",
     kDomainControllers + kSiteB,
     {Dc1(Answer::WrongMessageId), Dc2(Answer::Silent)},
     false,
     "LDAP",
     "dc1",
     {1, 0, 0},
     std::chrono::seconds(5)},
    {"ReplyFromAnotherAddressIgnored",
     "ws1.quindral.test",
     "",
     kDomainControllers + kSiteB,
     {Dc1(Answer::FromAnotherAddress), Dc2(Answer::Silent)},
     false,
     "LDAP",
     "dc1",
     {1, 0, 0},
     std::chrono::seconds(5)},
};

class RouteTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteTest, ReportOfTheServerTheLocatorChooses) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const auto& param = GetParam();
    const std::string hostName = param.hostName;
    TestHost host(hostName, kResolvConf + param.resolvExtra,
                  "127.0.0.1 localhost\n127.0.1.1 " + hostName + "\n");
    DnsmasqServer dns(kHosts + param.records);
    std::vector<std::unique_ptr<SlapdServer>> servers;
    servers.push_back(
        std::make_unique<SlapdServer>(SlapdServer::Options{"127.0.0.10", {389}, "ad-ldap.ldif"}));
    std::unique_ptr<ScriptedServer> hung;
    if (param.dc2Hung) {
        hung = SilentServer("127.0.0.11", 389);
        servers.push_back(nullptr);
    } else {
        servers.push_back(std::make_unique<SlapdServer>(
            SlapdServer::Options{"127.0.0.11", {389}, "ad-ldap-siteb.ldif"}));
    }
    servers.push_back(
        std::make_unique<SlapdServer>(SlapdServer::Options{"127.0.0.12", {3268}, "ad-gc.ldif"}));
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
    for (std::size_t i = 0; i < servers.size(); ++i) {
        if (!servers[i]) {
            continue;
        }
        const std::string log = servers[i]->StatsLog();
        EXPECT_EQ(CountLogLines(log, " SRCH base="), param.searches[i]) << "server " << i << log;
        EXPECT_EQ(CountLogLines(log, " BIND "), 0) << log;
        if (param.searches[i] > 0) {
            EXPECT_EQ(CountClientConnections(log), 1) << log;
        }
    }
    if (pings) {
        for (const auto& ping : pings->Received()) {
            EXPECT_EQ(ping.ntVersion, kPingNtVersion);
            EXPECT_TRUE(ping.dnsDomain == "quindral.test" ||
                        ping.dnsDomain == "child.quindral.test")
                << ping.dnsDomain;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, RouteTest, ::testing::ValuesIn(kRoutes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UnansweredPingsTest, DoNotHoldAFailedBindOnceEveryConnectionWasRefused) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    // Both DCs take pings and never answer them, and refuse connections: a ping that came late
    // could change nothing.
    TestHost host("ws1.quindral.test", kResolvConf,
                  "127.0.0.1 localhost\n127.0.1.1 ws1.quindral.test\n");
    DnsmasqServer dns(kHosts + kDomainControllers);
    ScriptedPing pings({Dc1(Answer::Silent), Dc2(Answer::Silent)});
    const auto [report, took] = TimedFetch("LDAP");
    EXPECT_EQ(report, kFailedBindReport);
    // A stagger for the pings, then both refused; NETWORK_TIMEOUT (5 s) if the pings were waited
    // for.
    EXPECT_LT(took, std::chrono::seconds(2));
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
    // Each hung server would hold a one-at-a-time run for the whole 15 s search timeout.
    EXPECT_LT(took, std::chrono::seconds(5));
    for (const auto& server : silent) {
        EXPECT_EQ(server->connections(), 1);
    }
    EXPECT_EQ(CountLogLines(live.StatsLog(), " SRCH base="), 1);
}

INSTANTIATE_TEST_SUITE_P(Routes, DeadServersFirstTest,
                         ::testing::Values(DeadFirstCase{"LdapThroughSrv", "LDAP", true},
                                           DeadFirstCase{"CatalogThroughSrv", "GC", true},
                                           DeadFirstCase{"LdapThroughUriList", "LDAP", false},
                                           DeadFirstCase{"CatalogThroughUriList", "GC", false}),
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

TEST(SilentResolverTest, FirstClickEndsWithinTheDeadlineLookupsIncluded) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    // A bare host name makes libldap's first use and the program look it up; a resolver that
    // never answers would hold each lookup for resolv.conf's 5 s times 2 attempts.
    TestHost host("client", "nameserver 127.0.0.53\nsearch quindral.test\n"
                            "options timeout:5 attempts:2\n");
    ScriptedDns silent([](const DnsQuery&, bool) { return std::nullopt; });
    ::setenv("LDAPNETWORK_TIMEOUT", "1", 1);
    ::setenv("LDAPTIMEOUT", "2", 1);
    const auto [report, took] = TimedFetch("GC");
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_LT(took, std::chrono::milliseconds(3000 + 1500));
}

} // namespace
} // namespace quindral::testing
