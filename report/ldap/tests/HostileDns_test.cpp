// The server location against a DNS server that sends what no sound one would, or answers one
// address family and never the other: each must end in a report by the failure rule, in bounded
// time, without a crash or a touch of freed memory (the sanitizer build runs these too).

#include "LdapTestSupport.h"
#include "ScriptedDns.h"
#include "TestNetwork.h"

#include <chrono>

namespace quindral::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Handler = std::function<std::optional<std::string>(const DnsQuery&, bool overTcp)>;

const std::string kLiveTarget = "dc1.quindral.test";
const std::string kOtherTarget = "dc2.quindral.test"; // nothing listens at its address

// Addresses: A records for both targets, an empty answer for their AAAA, no such name otherwise.
std::optional<std::string> SoundAddresses(const DnsQuery& query, bool) {
    const bool known = query.name == kLiveTarget || query.name == kOtherTarget;
    if (known && query.type == kTypeA) {
        return DnsReply(query, {AAnswer(query.name == kLiveTarget ? "127.0.0.10" : "127.0.0.11")});
    }
    return DnsReply(query, {}, known ? 0 : kRcodeNxDomain);
}

// The live target first, then the other.
std::optional<std::string> TwoTargets(const DnsQuery& query, bool) {
    return DnsReply(query, {SrvAnswer(0, 0, 389, DnsName(kLiveTarget)),
                            SrvAnswer(10, 0, 389, DnsName(kOtherTarget))});
}

struct HostileDnsCase {
    const char* name;
    Handler srv;       // the reply to an SRV query (over UDP, or over TCP after a truncated one)
    Handler addresses; // the reply to an A or AAAA query
    bool reportExpected;
    std::chrono::milliseconds bound;

    friend void PrintTo(const HostileDnsCase& c, std::ostream* out) { *out << c.name; }
};

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
     SoundAddresses, true, std::chrono::milliseconds(5000)},
    {"ServerFailure",
     [](const DnsQuery& query, bool) { return DnsReply(query, {}, kRcodeServFail); },
     SoundAddresses, false, std::chrono::milliseconds(5000)},
    {"NoSuchName", [](const DnsQuery& query, bool) { return DnsReply(query, {}, kRcodeNxDomain); },
     SoundAddresses, false, std::chrono::milliseconds(5000)},
    {"TargetThatDoesNotResolve",
     [](const DnsQuery& query, bool) {
         return DnsReply(query, {SrvAnswer(0, 0, 389, DnsName("nowhere.quindral.test"))});
     },
     SoundAddresses, false, std::chrono::milliseconds(5000)},
    {"AnswerToAnotherQuestion",
     [](const DnsQuery& query, bool) {
         DnsQuery other = query;
         other.question =
             DnsName("other.quindral.test") + query.question.substr(query.question.size() - 4);
         return DnsReply(other, {SrvAnswer(0, 0, 389, DnsName(kLiveTarget))});
     },
     SoundAddresses, false, std::chrono::milliseconds(8000)},
    {"NoAnswerAtAll",
     [](const DnsQuery&, bool) -> std::optional<std::string> { return std::nullopt; },
     SoundAddresses, false, std::chrono::milliseconds(8000)},
    // A family that never answers costs nothing when the other does; c-ares would give up on it
    // only after about 3 s.
    {"AAnsweredAaaaSilent", TwoTargets,
     [](const DnsQuery& query, bool overTcp) -> std::optional<std::string> {
         if (query.type == kTypeAaaa) {
             return std::nullopt;
         }
         return SoundAddresses(query, overTcp);
     },
     true, std::chrono::milliseconds(2000)},
    {"AaaaAnsweredASilent", TwoTargets,
     [](const DnsQuery& query, bool) -> std::optional<std::string> {
         if (query.type == kTypeA) {
             return std::nullopt;
         }
         // IPv4-mapped: the IPv6 socket reaches the IPv4 listener.
         return DnsReply(query, {AaaaAnswer(query.name == kLiveTarget ? "::ffff:127.0.0.10"
                                                                      : "::ffff:127.0.0.11")});
     },
     true, std::chrono::milliseconds(2000)},
    // The race ends while the other target's lookup has one family answered and waits for the
    // other: a resolver that went after the race would answer into freed memory.
    {"HalfAnsweredLookupWhenTheRaceEnds", TwoTargets,
     [](const DnsQuery& query, bool overTcp) -> std::optional<std::string> {
         if (query.name == kOtherTarget && query.type == kTypeAaaa) {
             return std::nullopt;
         }
         return SoundAddresses(query, overTcp);
     },
     true, std::chrono::milliseconds(2000)},
};

class HostileDnsTest : public ::testing::TestWithParam<HostileDnsCase> {};

TEST_P(HostileDnsTest, ReportByTheFailureRuleInBoundedTime) {
    QUINDRAL_NEED_PRIVATE_NETWORK();
    const auto& param = GetParam();
    // resolv.conf allows 1 s and 2 attempts a query: about 3 s for a query never answered. The
    // client's own name is in its hosts file, as an installer puts it there.
    TestHost host("ws1.quindral.test", "nameserver 127.0.0.53\noptions timeout:1 attempts:2\n",
                  "127.0.0.1 localhost\n127.0.1.1 ws1.quindral.test ws1\n");
    SlapdServer live({"127.0.0.10", {389}, "ad-ldap.ldif"});
    ScriptedDns dns([&](const DnsQuery& query, bool overTcp) -> std::optional<std::string> {
        return query.type == kTypeSrv ? param.srv(query, overTcp) : param.addresses(query, overTcp);
    });
    const auto [report, took] = TimedFetch("LDAP");
    if (param.reportExpected) {
        EXPECT_EQ(report, kAdLdapReport);
    } else {
        EXPECT_EQ(report, kFailedBindReport);
    }
    EXPECT_LT(took, param.bound);
}

INSTANTIATE_TEST_SUITE_P(Answers, HostileDnsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quindral::testing
