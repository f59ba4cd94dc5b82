// The server location against a DNS server that sends what no sound one would: each answer must
// end in a report by the failure rule, in bounded time, without a crash.

#include "LdapTestSupport.h"
#include "ScriptedDns.h"
#include "TestNetwork.h"

#include <chrono>

namespace quindral::testing {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kLiveTarget = "dc1.quindral.test";

struct HostileDnsCase {
    const char* name;
    // The reply to an SRV query (over UDP, or over TCP after a truncated one).
    std::function<std::optional<std::string>(const DnsQuery&, bool overTcp)> srv;
    bool reportExpected;
    std::chrono::milliseconds bound;

    friend void PrintTo(const HostileDnsCase& c, std::ostream* out) { *out << c.name; }
};

std::optional<std::string> Answer(const DnsQuery& query, std::vector<std::string> records) {
    return DnsReply(query, records);
}

const HostileDnsCase kCases[] = {
    {"TruncatedThenThreeHundredRecordsOverTcp",
     [](const DnsQuery& query, bool overTcp) -> std::optional<std::string> {
         if (!overTcp) {
             return DnsReply(query, {}, 0, /*truncated=*/true);
         }
         // The live server is the best record, and the last of 300.
         std::vector<std::string> records;
         for (int i = 0; i < 299; ++i) {
             records.push_back(
                 SrvAnswer(10, 0, 389, DnsName("nowhere" + std::to_string(i) + ".quindral.test")));
         }
         records.push_back(SrvAnswer(0, 0, 389, DnsName(kLiveTarget)));
         return DnsReply(query, records);
     },
     true, std::chrono::milliseconds(5000)},
    {"ServerFailure",
     [](const DnsQuery& query, bool) { return DnsReply(query, {}, kRcodeServFail); }, false,
     std::chrono::milliseconds(5000)},
    {"NoSuchName", [](const DnsQuery& query, bool) { return DnsReply(query, {}, kRcodeNxDomain); },
     false, std::chrono::milliseconds(5000)},
    {"CompressionPointerLoop",
     [](const DnsQuery& query, bool) {
         const auto self = static_cast<unsigned>(FirstSrvTargetOffset(query));
         const std::string loop{static_cast<char>(0xC0 | (self >> 8)),
                                static_cast<char>(self & 0xFF)};
         return Answer(query, {SrvAnswer(0, 0, 389, loop)});
     },
     false, std::chrono::milliseconds(5000)},
    {"MoreAnswersCountedThanSent",
     [](const DnsQuery& query, bool) {
         return DnsReply(query, {SrvAnswer(0, 0, 389, DnsName(kLiveTarget))}, 0, false, 5);
     },
     false, std::chrono::milliseconds(5000)},
    {"TargetDotServiceNotOffered",
     [](const DnsQuery& query, bool) { return Answer(query, {SrvAnswer(0, 0, 389, DnsName(""))}); },
     false, std::chrono::milliseconds(5000)},
    {"TargetThatDoesNotResolve",
     [](const DnsQuery& query, bool) {
         return Answer(query, {SrvAnswer(0, 0, 389, DnsName("nowhere.quindral.test"))});
     },
     false, std::chrono::milliseconds(5000)},
    {"AnswerToAnotherQuestion",
     [](const DnsQuery& query, bool) {
         DnsQuery other = query;
         other.question =
             DnsName("other.quindral.test") + query.question.substr(query.question.size() - 4);
         return DnsReply(other, {SrvAnswer(0, 0, 389, DnsName(kLiveTarget))});
     },
     false, std::chrono::milliseconds(8000)},
    {"NoAnswerAtAll",
     [](const DnsQuery&, bool) -> std::optional<std::string> { return std::nullopt; }, false,
     std::chrono::milliseconds(8000)},
};

class HostileDnsTest : public ::testing::TestWithParam<HostileDnsCase> {};

TEST_P(HostileDnsTest, ReportByTheFailureRuleInBoundedTime) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const auto& param = GetParam();
    // resolv.conf allows 1 s and 2 attempts a query: about 3 s for a query never answered.
    TestHost host("ws1.quindral.test", "nameserver 127.0.0.53\noptions timeout:1 attempts:2\n");
    SlapdServer live({"127.0.0.10", {389}, "ad-ldap.ldif"});
    ScriptedDns dns([&](const DnsQuery& query, bool overTcp) -> std::optional<std::string> {
        if (query.type == kTypeSrv) {
            return param.srv(query, overTcp);
        }
        if (query.name == kLiveTarget && query.type == kTypeA) {
            return DnsReply(query, {AAnswer("127.0.0.10")});
        }
        return DnsReply(query, {}, query.name == kLiveTarget ? 0 : kRcodeNxDomain);
    });
    ReportRun run;
    const auto start = Clock::now();
    const std::string report = run("LDAP");
    const auto took = Clock::now() - start;
    if (param.reportExpected) {
        EXPECT_NE(report.find("  dnsHostName: dc1.quindral.test\r\n"), std::string::npos) << report;
    } else {
        EXPECT_EQ(report, kFailedBindReport);
    }
    EXPECT_LT(took, param.bound);
}

INSTANTIATE_TEST_SUITE_P(Answers, HostileDnsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quindral::testing
