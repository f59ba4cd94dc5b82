// How a server is found when some are dead: DNS SRV records served by a real dnsmasq, or a
// configured URI list, ahead of real slapd servers, inside a private network.

#include "LdapTestSupport.h"
#include "ScriptedDns.h"
#include "ScriptedServer.h"
#include "TestNetwork.h"

#include <chrono>
#include <cstdlib>

namespace quindral::testing {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kResolvConf = "nameserver 127.0.0.53\noptions timeout:1 attempts:2\n";

std::string SrvHost(const std::string& name, const std::string& target, int port, int priority) {
    return "srv-host=" + name + "," + target + "," + std::to_string(port) + "," +
           std::to_string(priority) + ",100\n";
}

std::string HostRecord(const std::string& name, const std::string& address) {
    return "host-record=" + name + "," + address + "\n";
}

class SrvRouteTest : public ::testing::TestWithParam<bool> {};

TEST_P(SrvRouteTest, ServersFromSrvRecordsInPriorityOrder) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const bool searchLine = GetParam();
    TestHost host("client", kResolvConf + (searchLine ? "search ad.quindral.test\n" : ""),
                  std::string("127.0.0.1 localhost\n") +
                      (searchLine ? "" : "127.0.1.1 client.ad.quindral.test client\n"));
    // The best domain controller record has nothing behind it, so the run goes on to the next.
    DnsmasqServer dns(
        HostRecord("dead.ad.quindral.test", "127.0.0.12") +
        HostRecord("dc1.ad.quindral.test", "127.0.0.10") +
        HostRecord("gc1.ad.quindral.test", "127.0.0.11") +
        SrvHost("_ldap._tcp.dc._msdcs.ad.quindral.test", "dead.ad.quindral.test", 389, 0) +
        SrvHost("_ldap._tcp.dc._msdcs.ad.quindral.test", "dc1.ad.quindral.test", 389, 10) +
        SrvHost("_gc._tcp.ad.quindral.test", "gc1.ad.quindral.test", 3268, 0));
    SlapdServer dc({"127.0.0.10", {389}, "ad-ldap.ldif"});
    SlapdServer gc({"127.0.0.11", {3268}, "ad-gc.ldif"});
    const std::string ldap = TimedFetch("LDAP").report;
    const std::string catalog = TimedFetch("GC").report;
    EXPECT_EQ(FirstLine(ldap), "Contacting LDAP://rootDSE");
    EXPECT_NE(ldap.find("  dnsHostName: dc1.quindral.test\r\n"), std::string::npos) << ldap;
    EXPECT_EQ(FirstLine(catalog), "Contacting GC://rootDSE");
    EXPECT_NE(catalog.find("  dnsHostName: gc1.quindral.test\r\n"), std::string::npos) << catalog;
}

INSTANTIATE_TEST_SUITE_P(DomainSources, SrvRouteTest, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "ResolverSearchDomain" : "FullyQualifiedHostName");
});

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
    EXPECT_EQ(FirstLine(report), std::string("Contacting ") + param.provider + "://rootDSE");
    EXPECT_NE(report.find(catalog ? "gc1.quindral.test" : "dc1.quindral.test"), std::string::npos)
        << report;
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
    std::vector<std::unique_ptr<ScriptedServer>> silent;
    std::string records;
    std::string uris;
    for (int i = 1; i <= 8; ++i) {
        const std::string address = "127.0.0.3" + std::to_string(i);
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
    EXPECT_LT(took, std::chrono::milliseconds(3500 + 1500));
}

INSTANTIATE_TEST_SUITE_P(Routes, AllDeadTest, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "ThroughSrv" : "ThroughUriList");
});

TEST(HealthyDomainTest, OneLiveServerGetsOneConnectionAndOneSearchNoBind) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    TestHost host("ws1.quindral.test", kResolvConf);
    DnsmasqServer dns(HostRecord("dc1.quindral.test", "127.0.0.10") +
                      SrvHost("_ldap._tcp.dc._msdcs.quindral.test", "dc1.quindral.test", 389, 0) +
                      SrvHost("_ldap._tcp.dc._msdcs.quindral.test", "dc2.quindral.test", 389, 10));
    SlapdServer dc({"127.0.0.10", {389}, "ad-ldap.ldif"});
    EXPECT_EQ(FirstLine(TimedFetch("LDAP").report), "Contacting LDAP://rootDSE");
    const std::string log = dc.StatsLog();
    EXPECT_EQ(CountClientConnections(log), 1) << log;
    EXPECT_EQ(CountLogLines(log, " SRCH base="), 1) << log;
    EXPECT_EQ(CountLogLines(log, " BIND "), 0) << log;
}

TEST(ChildDomainTest, GlobalCatalogIsFoundUnderTheForestRoot) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    // The host's domain has domain controllers but, as in Active Directory, no catalog records:
    // those stand under the forest root that the domain controller's root entry names.
    TestHost host("ws1.child.quindral.test", kResolvConf);
    DnsmasqServer dns(
        HostRecord("dc1.child.quindral.test", "127.0.0.10") +
        HostRecord("gc1.quindral.test", "127.0.0.11") +
        SrvHost("_ldap._tcp.dc._msdcs.child.quindral.test", "dc1.child.quindral.test", 389, 0) +
        SrvHost("_ldap._tcp.gc._msdcs.quindral.test", "gc1.quindral.test", 3268, 0) +
        SrvHost("_gc._tcp.quindral.test", "gc1.quindral.test", 3268, 0));
    SlapdServer dc({"127.0.0.10", {389}, "ad-ldap.ldif"});
    SlapdServer gc({"127.0.0.11", {3268}, "ad-gc.ldif"});

    const std::string catalog = TimedFetch("GC").report;
    EXPECT_EQ(FirstLine(catalog), "Contacting GC://rootDSE");
    EXPECT_NE(catalog.find("  dnsHostName: gc1.quindral.test\r\n"), std::string::npos) << catalog;
    EXPECT_EQ(CountLogLines(dc.StatsLog(), " SRCH base="), 1);
    EXPECT_EQ(CountLogLines(gc.StatsLog(), " SRCH base="), 1);

    const std::string ldap = TimedFetch("LDAP").report;
    EXPECT_NE(ldap.find("  dnsHostName: dc1.quindral.test\r\n"), std::string::npos) << ldap;
}

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
