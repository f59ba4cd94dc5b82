// ldaps:// servers of a configured URI list, inside a private network whose hosts file names
// them: certificates made for the test and checked as libldap checks them, and TLS servers that
// accept a connection and never speak; and the names and URIs that the platform's own tools find.

#include "LdapTestSupport.h"
#include "ScriptedServer.h"
#include "TestCertificates.h"
#include "TestNetwork.h"

#include <chrono>
#include <cstdlib>
#include <optional>

namespace quindral::testing {
namespace {

enum class Certificate { Trusted, FromAnotherAuthority, ForAnotherName };

struct LdapsCase {
    const char* name;
    Certificate certificate;
    int hungAhead; // servers that accept the connection and never speak TLS, ahead of the live one
    const char* provider;
    const std::string* report; // what the pane must show

    friend void PrintTo(const LdapsCase& c, std::ostream* out) { *out << c.name; }
};

const LdapsCase kCases[] = {
    {"TrustedCertificate", Certificate::Trusted, 0, "LDAP", &kAdLdapReport},
    {"CertificateFromAnotherAuthority", Certificate::FromAnotherAuthority, 0, "LDAP",
     &kFailedBindReport},
    {"CertificateForAnotherName", Certificate::ForAnotherName, 0, "LDAP", &kFailedBindReport},
    {"ThreeHungTlsServersFirst", Certificate::Trusted, 3, "LDAP", &kAdLdapReport},
    {"CatalogOnItsLdapsPort", Certificate::Trusted, 0, "GC", &kAdGcReport},
};

class LdapsTest : public ::testing::TestWithParam<LdapsCase> {};

TEST_P(LdapsTest, CertificateCheckedAndHungHandshakesPassedOver) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const auto& param = GetParam();
    const bool catalog = std::string(param.provider) == "GC";
    std::string hosts = "127.0.0.1 localhost\n127.0.0.10 dc1.quindral.test\n";
    std::string uris;
    std::vector<std::unique_ptr<ScriptedServer>> hung;
    for (int i = 1; i <= param.hungAhead; ++i) {
        const std::string address = "127.0.0.2" + std::to_string(i);
        const std::string name = "hung" + std::to_string(i) + ".quindral.test";
        hung.push_back(SilentServer(address, 636));
        hosts += address + " " + name + "\n";
        uris += "ldaps://" + name + " ";
    }
    TestHost host("ws1.quindral.test", "nameserver 127.0.0.53\n", hosts);
    TestCertificates trusted;
    TestCertificates other("Another Test CA");
    const auto issued =
        (param.certificate == Certificate::FromAnotherAuthority ? other : trusted)
            .Issue(param.certificate == Certificate::ForAnotherName ? "other.quindral.test"
                                                                    : "dc1.quindral.test");
    SlapdServer server({"127.0.0.10",
                        {},
                        catalog ? "ad-gc.ldif" : "ad-ldap.ldif",
                        false,
                        {catalog ? 3269 : 636},
                        issued.certificate,
                        issued.key});
    ClientConfiguration configuration(uris + "ldaps://dc1.quindral.test");
    configuration.TrustOnly(trusted.Authority());

    const auto [report, took] = TimedFetch(param.provider);
    EXPECT_EQ(report, *param.report);
    // Three staggers; a handshake that held the race would cost NETWORK_TIMEOUT (5 s) each.
    EXPECT_LT(took, std::chrono::seconds(3));
    for (const auto& server : hung) {
        EXPECT_EQ(server->connections(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Ldaps, LdapsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the platform decides, the program agrees with the platform's own tools, run in the same
// test host: getent for a name (the hosts file, then DNS), ldapsearch for a URI list with its TLS
// names. dc1.quindral.test (127.0.0.10) serves ldap:// and ldaps://, its certificate naming it
// alone; a real dnsmasq serves the domain's SRV records but no address for dc1.
struct OracleCase {
    const char* name;
    std::string hosts;   // the hosts file beyond localhost
    const char* uris;    // the configured URI list; none: the domain's SRV records
    std::string command; // the platform's tool, which must find the server

    friend void PrintTo(const OracleCase& c, std::ostream* out) { *out << c.name; }
};

const OracleCase kOracleCases[] = {
    {.name = "DcOnlyInTheHostsFileBehindSrvRecords",
     .hosts = "127.0.0.10 dc1.quindral.test\n",
     .uris = nullptr,
     .command = "getent hosts dc1.quindral.test"},
    {.name = "LdapsAddressThenName",
     .hosts = "127.0.0.10 dc1.quindral.test\n",
     .uris = "ldaps://127.0.0.10 ldaps://dc1.quindral.test",
     .command = "ldapsearch"},
    {.name = "LdapsShortNameThenFullName",
     .hosts = "127.0.0.10 dc1.quindral.test dc1\n",
     .uris = "ldaps://dc1 ldaps://dc1.quindral.test",
     .command = "ldapsearch"},
};

class PlatformOracleTest : public ::testing::TestWithParam<OracleCase> {};

TEST_P(PlatformOracleTest, ProgramFindsTheServerThePlatformsToolFinds) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const auto& param = GetParam();
    TestHost host("ws1.quindral.test", "nameserver 127.0.0.53\noptions timeout:1 attempts:1\n",
                  "127.0.0.1 localhost\n" + param.hosts);
    DnsmasqServer dns("srv-host=_ldap._tcp.dc._msdcs.quindral.test,dc1.quindral.test,389,0,100\n");
    TestCertificates authority;
    const auto issued = authority.Issue("dc1.quindral.test");
    SlapdServer server(
        {"127.0.0.10", {389}, "ad-ldap.ldif", false, {636}, issued.certificate, issued.key});
    std::string command = param.command;
    if (command == "ldapsearch") {
        command = "env -i HOME=/nonexistent LDAPTLS_CACERT=" + authority.Authority().string() +
                  " LDAPTLS_REQCERT=demand ldapsearch -x -LLL -H '" + param.uris +
                  "' -b '' -s base dnsHostName";
    }
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0)
        << "the platform's own tool does not find it: " << command;

    std::optional<ClientConfiguration> configuration;
    if (param.uris != nullptr) {
        configuration.emplace(param.uris);
        configuration->TrustOnly(authority.Authority());
    }
    EXPECT_EQ(TimedFetch("LDAP").report, kAdLdapReport);
}

INSTANTIATE_TEST_SUITE_P(Platform, PlatformOracleTest, ::testing::ValuesIn(kOracleCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quindral::testing
