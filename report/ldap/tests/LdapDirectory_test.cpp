#include "LdapTestSupport.h"
#include "ScriptedServer.h"

#include <chrono>

namespace quindral::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A domain controller on 389 and a global catalog with other content on 3268 of one address.
class DomainControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUINDRAL_NEED_LOW_PORTS();
        address = RandomLoopbackAddress();
        dc = std::make_unique<SlapdServer>(SlapdServer::Options{address, {389}, "ad-ldap.ldif"});
        gc = std::make_unique<SlapdServer>(SlapdServer::Options{address, {3268}, "ad-gc.ldif"});
    }

    std::string address;
    std::unique_ptr<SlapdServer> dc;
    std::unique_ptr<SlapdServer> gc;
};

TEST_F(DomainControllerTest, BothProvidersGiveTheirServersReportsExactly) {
    ClientConfiguration configuration("ldap://" + address);
    ReportRun run;
    EXPECT_EQ(run("LDAP"), kAdLdapReport);
    EXPECT_EQ(run.Log(), "********************\r\n" + kAdLdapReport);
    EXPECT_EQ(run("GC"), kAdGcReport);
    EXPECT_EQ(run.Log(), "********************\r\n" + kAdLdapReport + "********************\r\n" +
                             kAdGcReport);
}

TEST_F(DomainControllerTest, OneRunSendsExactlyOneSearchAndNoBind) {
    ClientConfiguration configuration("ldap://" + address);
    ReportRun run;
    run("LDAP");
    const std::string log = dc->StatsLog();
    EXPECT_EQ(CountClientConnections(log), 1) << log;
    EXPECT_EQ(CountLogLines(log, " SRCH base=\"\" scope=0"), 1) << log;
    EXPECT_EQ(CountLogLines(log, " SRCH attr=* +"), 1) << log;
    EXPECT_EQ(CountLogLines(log, " BIND "), 0) << log;
    EXPECT_EQ(CountLogLines(log, " EXT "), 0) << log; // no StartTLS or other extended request
    EXPECT_EQ(CountLogLines(gc->StatsLog(), " SRCH base="), 0);
}

TEST_F(DomainControllerTest, UnknownProvidersAndOtherPathsSendNothing) {
    ClientConfiguration configuration("ldap://" + address);
    ReportRun run;
    for (const char* prefix : {"ldap", "WinNT", "", "LDAP://dc1/x"}) {
        EXPECT_EQ(run(prefix), kFailedBindReport) << prefix;
    }
    EXPECT_EQ(CountLogLines(dc->StatsLog(), " SRCH base="), 0);
    EXPECT_EQ(CountLogLines(gc->StatsLog(), " SRCH base="), 0);
}

TEST_F(DomainControllerTest, AttributeNamesMatchWithoutRegardToCase) {
    ClientConfiguration configuration("ldap://" + address);
    LdapDirectory directory;
    auto root = directory.Bind("LDAP://rootDSE");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->ADsPath(), "LDAP://rootDSE");
    EXPECT_EQ(root->Get("DNSHOSTNAME"), DirectoryValue::Text("dc1.quindral.test"));
    EXPECT_EQ(root->Get("namingcontexts")->Elements().size(), 5u);
    EXPECT_EQ(root->Get("noSuchAttribute"), std::nullopt);
}

TEST_F(DomainControllerTest, NextServerIsTriedWhenTheFirstRefuses) {
    // Port 1 on the address: nothing listens there, so the connection is refused at once.
    ClientConfiguration configuration("ldap://" + address + ":1 ldap://" + address + ":389");
    ReportRun run;
    EXPECT_EQ(run("LDAP"), kAdLdapReport);
}

struct Variant {
    const char* name;
    const char* fixture;
    bool withDatabase;
    std::string reportAfterContacting;
};

const Variant kVariants[] = {
    {"OneNamingContext", "one-naming-context.ldif", false,
     Lines({"  dnsHostName: solo.quindral.test",
            "  serverName: CN=SOLO,CN=Servers,CN=Site,CN=Sites,CN=Configuration,DC=solo,DC=test",
            "  ldapServiceName: solo.test:solo$@SOLO.TEST",
            "  dsServiceName: CN=NTDS Settings,CN=SOLO,CN=Servers,CN=Site,CN=Sites,"
            "CN=Configuration,DC=solo,DC=test",
            "  namingContexts: DC=solo,DC=test", "  defaultNamingContext: DC=solo,DC=test",
            "  schemaNamingContext: CN=Schema,CN=Configuration,DC=solo,DC=test",
            "  configurationNamingContext: CN=Configuration,DC=solo,DC=test",
            "  altServer: ldap://solo2.solo.test/"})},
    {"NoAltServer", "no-alt-server.ldif", false,
     Lines({"  dnsHostName: dc1.quindral.test",
            "  serverName: CN=DC1,CN=Servers,CN=Site,CN=Sites,CN=Configuration,DC=quindral,"
            "DC=test",
            "  ldapServiceName: quindral.test:dc1$@QUINDRAL.TEST",
            "  dsServiceName: CN=NTDS Settings,CN=DC1,CN=Servers,CN=Site,CN=Sites,"
            "CN=Configuration,DC=quindral,DC=test",
            "  namingContexts: ", "    DC=quindral,DC=test",
            "    CN=Configuration,DC=quindral,DC=test",
            "  defaultNamingContext: DC=quindral,DC=test",
            "  schemaNamingContext: CN=Schema,CN=Configuration,DC=quindral,DC=test",
            "  configurationNamingContext: CN=Configuration,DC=quindral,DC=test",
            "  altServer: <null>"})},
    {"NonAsciiUtf8", "non-ascii.ldif", false,
     Lines({"  dnsHostName: dc-z\xC3\xBCrich.quindral.test",
            "  serverName: CN=Z\xC3\xBCrich-DC,CN=Servers,CN=Gen\xC3\xA8ve,CN=Sites,"
            "CN=Configuration,DC=quindral,DC=test",
            "  ldapServiceName: quindral.test:z\xC3\xBCrich$@QUINDRAL.TEST",
            "  dsServiceName: CN=NTDS Settings,CN=Z\xC3\xBCrich-DC,CN=Servers,CN=Gen\xC3\xA8ve,"
            "CN=Sites,CN=Configuration,DC=quindral,DC=test",
            "  namingContexts: ", "    DC=quindral,DC=test",
            "    OU=B\xC3\xBC"
            "cher,DC=quindral,DC=test",
            "    OU=\xE6\x9D\xB1\xE4\xBA\xAC,DC=quindral,DC=test",
            "  defaultNamingContext: DC=quindral,DC=test",
            "  schemaNamingContext: CN=Schema,CN=Configuration,DC=quindral,DC=test",
            "  configurationNamingContext: CN=Configuration,DC=quindral,DC=test",
            "  altServer: "
            "ldap://dc-\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0.quindral.test/"})},
    {"PlainOpenLdap", "", true,
     Lines({"  namingContexts: dc=plain,dc=test", "  altServer: <null>"})},
};

void PrintTo(const Variant& variant, std::ostream* out) {
    *out << variant.name;
}

class ServerVariants : public ::testing::TestWithParam<Variant> {};

TEST_P(ServerVariants, ReportIsExactForBothProviders) {
    QUINDRAL_NEED_LOW_PORTS();
    const std::string address = RandomLoopbackAddress();
    SlapdServer server({address, {389, 3268}, GetParam().fixture, GetParam().withDatabase});
    ClientConfiguration configuration("ldap://" + address);
    ReportRun run;
    EXPECT_EQ(run("LDAP"), "Contacting LDAP://rootDSE\r\n" + GetParam().reportAfterContacting);
    EXPECT_EQ(run("GC"), "Contacting GC://rootDSE\r\n" + GetParam().reportAfterContacting);
    EXPECT_EQ(CountLogLines(server.StatsLog(), " SRCH base="), 2);
}

INSTANTIATE_TEST_SUITE_P(Variants, ServerVariants, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

// Failures against servers that misbehave: each must end in the failed-bind report, in time.
class UnreachableServerTest : public ::testing::Test {
protected:
    std::string address = RandomLoopbackAddress();

    std::pair<std::string, Clock::duration> TimedRun(const std::string& uri, int network,
                                                     int search) {
        ClientConfiguration configuration(uri, network, search);
        ReportRun run;
        const auto start = Clock::now();
        std::string report = run("LDAP");
        return {report, Clock::now() - start};
    }
};

TEST_F(UnreachableServerTest, NothingListeningFailsAtOnce) {
    auto [report, took] = TimedRun("ldap://" + address + ":1", 0, 0);
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_LT(took, std::chrono::seconds(2));
}

TEST_F(UnreachableServerTest, BlackHoledHandshakeEndsAtTheConnectTimeout) {
    ScriptedServer hole(address, {}, /*acceptConnections=*/false);
    auto [report, took] = TimedRun(hole.Uri(), 1, 0);
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(8));
}

TEST_F(UnreachableServerTest, ListenerThatNeverAnswersEndsAtTheSearchTimeout) {
    ScriptedServer silent(address, [](int fd, const auto& stopping) {
        ReadRequest(fd, stopping);
        while (!stopping()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    auto [report, took] = TimedRun(silent.Uri(), 0, 1);
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_EQ(silent.connections(), 1);
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(8));
}

TEST_F(UnreachableServerTest, ServerClosingMidReplyFailsCleanly) {
    ScriptedServer closing(address, [](int fd, const auto& stopping) {
        ReadRequest(fd, stopping);
        // The start of a search result entry for message 1, cut off.
        WriteAll(fd, std::string("\x30\x2a\x02\x01\x01\x64\x25\x04\x00\x30\x21\x30", 12));
    });
    auto [report, took] = TimedRun(closing.Uri(), 0, 5);
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_LT(took, std::chrono::seconds(4));
}

} // namespace
} // namespace quindral::testing
