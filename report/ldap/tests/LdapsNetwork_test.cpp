// ldaps:// servers of a configured URI list, inside a private network whose hosts file names
// them: certificates made for the test and checked as libldap checks them, and TLS servers that
// accept a connection and never speak.

#include "LdapTestSupport.h"
#include "ScriptedServer.h"
#include "TestCertificates.h"
#include "TestNetwork.h"

#include <chrono>

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

} // namespace
} // namespace quindral::testing
