// How the server is found through the OpenLDAP client configuration the process starts with.
// Each case runs the fetch probe as a process of its own, since
// libldap reads its configuration once per process.

#include "LdapTestSupport.h"
#include "ScriptedServer.h"

#include <chrono>
#include <fstream>

namespace quindral::testing {
namespace {

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

} // namespace
} // namespace quindral::testing
