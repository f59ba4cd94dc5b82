// How the server is found: through the OpenLDAP client configuration the process starts with,
// and through DNS SRV records. Each case runs the fetch probe as a process of its own, since
// libldap reads its configuration once per process.

#include "LdapTestSupport.h"
#include "ScriptedServer.h"

#include <chrono>
#include <cstdio>
#include <fstream>

namespace quindral::testing {
namespace {

// Runs a shell command line and returns what it wrote to standard output.
std::string Output(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    ::pclose(pipe);
    return output;
}

// The probe with a clean environment: no HOME (so no ldaprc) and only the given variables.
std::string Probe(const std::string& environment, const std::string& provider) {
    return Output("env -i PATH=/usr/bin:/bin " + environment + " " FETCH_PROBE " " + provider);
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find("\r\n"));
}

class ConfigurationRouteTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUINDRAL_NEED_LOW_PORTS();
        dc = std::make_unique<SlapdServer>(SlapdServer::Options{address, {389}, "ad-ldap.ldif"});
        gc = std::make_unique<SlapdServer>(SlapdServer::Options{address, {3268}, "ad-gc.ldif"});
    }

    std::string address = RandomLoopbackAddress();
    std::unique_ptr<SlapdServer> dc;
    std::unique_ptr<SlapdServer> gc;
    TempDirectory dir;
};

TEST_F(ConfigurationRouteTest, LdapUriFromTheEnvironment) {
    const std::string env = "LDAPURI=ldap://" + address;
    const std::string ldap = Probe(env, "LDAP");
    const std::string gcReport = Probe(env, "GC");
    EXPECT_EQ(FirstLine(ldap), "Contacting LDAP://rootDSE");
    EXPECT_NE(ldap.find("  dnsHostName: dc1.quindral.test\r\n"), std::string::npos) << ldap;
    EXPECT_EQ(FirstLine(gcReport), "Contacting GC://rootDSE");
    EXPECT_NE(gcReport.find("  dnsHostName: gc1.quindral.test\r\n"), std::string::npos);
}

TEST_F(ConfigurationRouteTest, UriFromAnLdapConfFile) {
    const auto conf = dir.path() / "ldap.conf";
    std::ofstream(conf) << "# a client configuration\nURI ldap://" << address << "/\n";
    const std::string report = Probe("LDAPCONF=" + conf.string(), "GC");
    EXPECT_NE(report.find("  dnsHostName: gc1.quindral.test\r\n"), std::string::npos) << report;
    EXPECT_EQ(CountLogLines(gc->StatsLog(), " SRCH base="), 1);
    EXPECT_EQ(CountLogLines(dc->StatsLog(), " SRCH base="), 0);
}

TEST(ConfiguredTimeout, NetworkTimeoutFromLdapConfWins) {
    TempDirectory dir;
    ScriptedServer hole(RandomLoopbackAddress(), {}, /*acceptConnections=*/false);
    const auto conf = dir.path() / "ldap.conf";
    std::ofstream(conf) << "URI " << hole.Uri() << "\nNETWORK_TIMEOUT 1\n";
    const auto start = std::chrono::steady_clock::now();
    const std::string report = Probe("LDAPCONF=" + conf.string(), "LDAP");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_LT(took, std::chrono::seconds(4)); // the default would be 5 s
}

class DnsSrvRouteTest : public ::testing::TestWithParam<std::pair<const char*, bool>> {};

TEST_P(DnsSrvRouteTest, ServersFromSrvRecordsInPriorityOrder) {
    if (Output("unshare --net --mount --uts true 2>&1 && echo ok") != "ok\n") {
        GTEST_SKIP() << "needs network and mount namespaces (run as root, as CI does)";
    }
    TempDirectory dir;
    const auto [hostName, searchLine] = GetParam();
    std::ofstream(dir.path() / "resolv.conf")
        << "nameserver 127.0.0.53\n"
        << (searchLine ? "search ad.quindral.test\n" : "") << "options timeout:1 attempts:2\n";
    std::ofstream(dir.path() / "hosts")
        << "127.0.0.1 localhost\n"
        << (searchLine ? "" : "127.0.1.1 client.ad.quindral.test client\n");
    // The first domain controller record has the best priority but nothing behind it, so the
    // run must go on to the next one.
    std::ofstream(dir.path() / "dnsmasq.conf")
        << "listen-address=127.0.0.53\nbind-interfaces\nport=53\nno-resolv\nno-hosts\n"
           "local=/quindral.test/\n"
           "host-record=dead.ad.quindral.test,127.0.0.12\n"
           "host-record=dc1.ad.quindral.test,127.0.0.10\n"
           "host-record=gc1.ad.quindral.test,127.0.0.11\n"
           "srv-host=_ldap._tcp.dc._msdcs.ad.quindral.test,dead.ad.quindral.test,389,0,100\n"
           "srv-host=_ldap._tcp.dc._msdcs.ad.quindral.test,dc1.ad.quindral.test,389,10,100\n"
           "srv-host=_gc._tcp.ad.quindral.test,gc1.ad.quindral.test,3268,0,100\n";
    const std::string log =
        Output("unshare --net --mount --uts sh " NETNS_ROUTE_SCRIPT " " + dir.path().string() +
               " " FETCH_PROBE " " QUINDRAL_LDAP_FIXTURES " " + hostName + " 2>&1");
    const std::string ldap = ReadFile(dir.path() / "ldap.out");
    const std::string gc = ReadFile(dir.path() / "gc.out");
    EXPECT_EQ(FirstLine(ldap), "Contacting LDAP://rootDSE") << log;
    EXPECT_NE(ldap.find("  dnsHostName: dc1.quindral.test\r\n"), std::string::npos) << ldap;
    EXPECT_EQ(FirstLine(gc), "Contacting GC://rootDSE") << log;
    EXPECT_NE(gc.find("  dnsHostName: gc1.quindral.test\r\n"), std::string::npos) << gc;
}

INSTANTIATE_TEST_SUITE_P(DomainSources, DnsSrvRouteTest,
                         ::testing::Values(std::pair{"client", true}, std::pair{"client", false}),
                         [](const auto& info) {
                             return std::string(info.param.second ? "ResolverSearchDomain"
                                                                  : "FullyQualifiedHostName");
                         });

} // namespace
} // namespace quindral::testing
