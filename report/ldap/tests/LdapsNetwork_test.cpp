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
    Certificate certificate = Certificate::Trusted;
    int hungAhead =
        0; // servers that accept the connection and never speak TLS, ahead of the live one
    const char* provider = "LDAP";
    const std::string* report; // what the pane must show

    friend void PrintTo(const LdapsCase& c, std::ostream* out) { *out << c.name; }
};

const LdapsCase kCases[] = {
    {.name = "TrustedCertificate", .report = &kAdLdapReport},
    {.name = "CertificateFromAnotherAuthority",
     .certificate = Certificate::FromAnotherAuthority,
     .report = &kFailedBindReport},
    {.name = "CertificateForAnotherName",
     .certificate = Certificate::ForAnotherName,
     .report = &kFailedBindReport},
    {.name = "ThreeHungTlsServersFirst", .hungAhead = 3, .report = &kAdLdapReport},
    {.name = "CatalogOnItsLdapsPort", .provider = "GC", .report = &kAdGcReport},
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
// test host: getent for a DC that the hosts file alone names behind the domain's SRV records
// (dnsmasq has no address for it), ldapsearch for an ldaps:// URI list whose first URI fails the
// certificate's name check. dc1.quindral.test (127.0.0.10) has a certificate for that name alone.
TEST(PlatformOracle, ProgramFindsTheServerThePlatformsToolFinds) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const struct {
        const char* uris; // none: the domain's SRV records
        const char* aliases;
    } kRows[] = {
        {.uris = nullptr, .aliases = ""},
        {.uris = "ldaps://127.0.0.10 ldaps://dc1.quindral.test", .aliases = ""},
        {.uris = "ldaps://dc1 ldaps://dc1.quindral.test", .aliases = " dc1"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.uris != nullptr ? row.uris : "SRV records");
        TestHost host("ws1.quindral.test", "nameserver 127.0.0.53\noptions timeout:1\n",
                      "127.0.0.1 localhost\n127.0.0.10 dc1.quindral.test" +
                          std::string(row.aliases) + "\n");
        DnsmasqServer dns("srv-host=_ldap._tcp.dc._msdcs.quindral.test,dc1.quindral.test,389\n");
        TestCertificates authority;
        const auto issued = authority.Issue("dc1.quindral.test");
        SlapdServer server(
            {"127.0.0.10", {389}, "ad-ldap.ldif", false, {636}, issued.certificate, issued.key});
        const std::string tool =
            row.uris == nullptr
                ? "getent hosts dc1.quindral.test"
                : "env -i HOME=/nonexistent LDAPTLS_REQCERT=demand LDAPTLS_CACERT=" +
                      authority.Authority().string() + " ldapsearch -x -H '" + row.uris +
                      "' -b '' -s base dnsHostName";
        ASSERT_EQ(std::system((tool + " >/dev/null 2>&1").c_str()), 0) << tool;
        std::optional<ClientConfiguration> configuration;
        if (row.uris != nullptr) {
            configuration.emplace(row.uris);
            configuration->TrustOnly(authority.Authority());
        }
        EXPECT_EQ(TimedFetch("LDAP").report, kAdLdapReport);
    }
}

} // namespace
} // namespace quindral::testing
