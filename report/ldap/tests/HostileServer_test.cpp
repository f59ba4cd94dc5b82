// The LDAP layer against servers that send what no sound server would: each reply must end in a
// report that follows the failure rule (lines missing, never broken), within the timeouts, and
// without a crash.

#include "BerBuilder.h"
#include "LdapTestSupport.h"
#include "ProcessMemory.h"
#include "ScriptedServer.h"
#include "TestCertificates.h"

#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>

namespace quindral::testing {
namespace {

using Clock = std::chrono::steady_clock;

class HostileServerTest : public ::testing::Test {
protected:
    std::string address = RandomLoopbackAddress();

    // One run against a server that answers the search with the reply the script makes, over TLS
    // with a certificate for its address when asked.
    std::string RunAgainst(const ScriptedServer::Handler& handler, int searchTimeout = 5,
                           bool tls = false) {
        TestCertificates certificates;
        std::optional<ScriptedServer::TlsIdentity> identity;
        if (tls) {
            const auto issued = certificates.Issue(address);
            identity = ScriptedServer::TlsIdentity{issued.certificate, issued.key};
        }
        ScriptedServer server(address, handler, true, std::chrono::seconds(60), 0, identity);
        ClientConfiguration configuration(server.Uri(), 2, searchTimeout);
        if (tls) {
            configuration.TrustOnly(certificates.Authority());
        }
        ReportRun run;
        const auto start = Clock::now();
        std::string report = run("LDAP");
        took = Clock::now() - start;
        EXPECT_EQ(run.Log(), "********************\r\n" + report);
        return report;
    }

    static ScriptedServer::Handler Replying(std::vector<Attribute> attributes) {
        return [attributes](int fd, const auto& stopping) {
            const std::string request = ReadRequest(fd, stopping);
            WriteAll(fd, RootDseReply(MessageIdOf(request), attributes));
            ReadRequest(fd, stopping); // the unbind
        };
    }

    Clock::duration took{};
};

TEST_F(HostileServerTest, MalformedBerIsAFailedBind) {
    EXPECT_EQ(RunAgainst([](int fd, const auto& stopping) {
                  ReadRequest(fd, stopping);
                  WriteAll(fd, std::string("\x30\x84\xff\xff\xff\xff\x02\x01", 8) +
                                   std::string(64, '\xff'));
              }),
              kFailedBindReport);
    EXPECT_LT(took, std::chrono::seconds(6));
}

TEST_F(HostileServerTest, ResetInTheMiddleOfTheReplyIsAFailedBind) {
    EXPECT_EQ(RunAgainst([](int fd, const auto& stopping) {
                  const std::string reply = RootDseReply(MessageIdOf(ReadRequest(fd, stopping)),
                                                         {{"dnsHostName", {"dc1.quindral.test"}}});
                  WriteAll(fd, reply.substr(0, reply.size() / 2));
                  const linger reset{1, 0};
                  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
              }),
              kFailedBindReport);
}

TEST_F(HostileServerTest, ReplyDrippingOneBytePerTenthOfASecondEndsAtTheSearchTimeout) {
    EXPECT_EQ(RunAgainst(
                  [](int fd, const auto& stopping) {
                      const std::string reply =
                          RootDseReply(MessageIdOf(ReadRequest(fd, stopping)),
                                       {{"dnsHostName", {std::string(200, 'x')}}});
                      for (char byte : reply) {
                          if (stopping() || !WriteAll(fd, std::string(1, byte))) {
                              return;
                          }
                          std::this_thread::sleep_for(std::chrono::milliseconds(100));
                      }
                  },
                  /*searchTimeout=*/1),
              kFailedBindReport);
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(HostileServerTest, EntryWithNoAttributesGivesOnlyTheContactingAndNullLines) {
    EXPECT_EQ(RunAgainst(Replying({})), "Contacting LDAP://rootDSE\r\n" + kFailedBindReport);
}

TEST_F(HostileServerTest, BrokenTextNulsAndLineBreaksInValues) {
    const std::string report = RunAgainst(Replying({
        {"dnsHostName", {"dc\xFF\xFE.quindral.test"}},
        {"serverName", {std::string("CN=a\0b", 6)}},
        {"ldapServiceName", {"first\r\nsecond"}},
    }));
    EXPECT_EQ(report, "Contacting LDAP://rootDSE\r\n"
                      "  dnsHostName: dc\xEF\xBF\xBD\xEF\xBF\xBD.quindral.test\r\n" +
                          std::string("  serverName: CN=a\0b\r\n", 22) +
                          "  ldapServiceName: first\r\nsecond\r\n" + kFailedBindReport);
}

TEST_F(HostileServerTest, NamesThatDifferOnlyInCaseKeepTheFirst) {
    const std::string report = RunAgainst(Replying({
        {"DNSHOSTNAME", {"first.quindral.test"}},
        {"dnsHostName", {"second.quindral.test"}},
    }));
    EXPECT_NE(report.find("  dnsHostName: first.quindral.test\r\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("second"), std::string::npos);
}

TEST_F(HostileServerTest, MebibyteValueAndAHundredThousandValuesArriveWhole) {
    std::vector<std::string> many;
    for (int i = 0; i < 100000; ++i) {
        many.push_back("DC=n" + std::to_string(i));
    }
    const std::string big(1 << 20, 'v');
    const std::string report =
        RunAgainst(Replying({{"dnsHostName", {big}}, {"namingContexts", many}}), 15);
    EXPECT_NE(report.find("  dnsHostName: " + big + "\r\n"), std::string::npos);
    EXPECT_NE(report.find("  namingContexts: \r\n    DC=n0\r\n    DC=n1\r\n"), std::string::npos);
    EXPECT_TRUE(report.ends_with("    DC=n99999\r\n  altServer: <null>\r\n"));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1 + 1 + 1 + 100000 + 1);
}

// Servers that answer the search and never stop sending: what they send first, then what they
// repeat for as long as the client reads.
struct StreamingCase {
    const char* name;
    bool tls;
    std::function<std::string(int messageId)> first;
    std::string repeated;

    friend void PrintTo(const StreamingCase& c, std::ostream* out) { *out << c.name; }
};

const std::string kEntry = RootDseEntryMessage(1, {{"dnsHostName", {"dc1.quindral.test"}}});

const StreamingCase kStreaming[] = {
    {"RootEntriesWithoutEnd", false, [](int id) { return RootDseEntryMessage(id, {}); },
     [] {
         std::string burst;
         for (int i = 0; i < 256; ++i) {
             burst += kEntry;
         }
         return burst;
     }()},
    {"RootEntriesWithoutEndOverTls", true, [](int id) { return RootDseEntryMessage(id, {}); },
     std::string(kEntry).append(kEntry).append(kEntry).append(kEntry)},
    // One message whose length says two gigabytes, which never ends.
    {"EntryWithoutEnd", false,
     [](int id) {
         return std::string("\x30\x84\x7f\xff\xff\xff\x02\x01", 8) + static_cast<char>(id) +
                std::string("\x64\x84\x7f\xff\xff\xf0\x04\x00", 8);
     },
     std::string(1 << 16, 'x')},
};

class StreamingServerTest : public HostileServerTest,
                            public ::testing::WithParamInterface<StreamingCase> {};

TEST_P(StreamingServerTest, FailedBindByTheDeadlineAndMemoryStaysFlat) {
    const auto& param = GetParam();
    // A healthy click of the same kind first: libldap's, GnuTLS's and the allocator's first costs
    // are then paid, and what is measured is what the stream costs.
    RunAgainst(Replying({{"dnsHostName", {"dc1.quindral.test"}}}), 3, param.tls);
    const long before = ResetPeakResidentMemory();
    const std::string report =
        RunAgainst(Streaming(param.first, param.repeated), /*searchTimeout=*/3, param.tls);
    EXPECT_EQ(report, kFailedBindReport);
    // The server fails at its second entry, or at a length no root entry has: at once, not at the
    // search's timeout (3 s), let alone the click's deadline (5 s).
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    // Whatever the server sent went nowhere but through: a few MiB at most.
    EXPECT_LT(PeakResidentKib() - before, 8 * 1024);
}

INSTANTIATE_TEST_SUITE_P(Streams, StreamingServerTest, ::testing::ValuesIn(kStreaming),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quindral::testing
