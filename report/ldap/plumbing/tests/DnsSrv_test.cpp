#include "ScriptedDns.h"
#include "report/ldap/plumbing/DnsSrv.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>

namespace quindral {
namespace {

TEST(OrderSrvRecords, LowestPriorityFirstThenByWeight) {
    std::vector<SrvRecord> records = {
        {10, 0, 389, "backup"}, {0, 10, 389, "light"}, {0, 90, 389, "heavy"}, {5, 0, 389, "mid"}};
    // A random source that always picks the top of the range favours the last record of a group.
    auto top = OrderSrvRecords(records, [](std::uint32_t n) { return n; });
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(top[0].target, "heavy");
    EXPECT_EQ(top[1].target, "light");
    EXPECT_EQ(top[2].target, "mid");
    EXPECT_EQ(top[3].target, "backup");
    auto bottom = OrderSrvRecords(records, [](std::uint32_t) { return 1u; });
    EXPECT_EQ(bottom[0].target, "light");
    EXPECT_EQ(bottom[1].target, "heavy");

    // With real randomness a weight of 90 against 10 wins most of the time.
    std::mt19937 generator(7);
    int heavyFirst = 0;
    for (int i = 0; i < 1000; ++i) {
        auto order = OrderSrvRecords(records, [&](std::uint32_t n) {
            return std::uniform_int_distribution<std::uint32_t>(0, n)(generator);
        });
        heavyFirst += order[0].target == "heavy";
    }
    EXPECT_GT(heavyFirst, 800);
    EXPECT_LT(heavyFirst, 980);
}

// Replies to an SRV question that a sound server would not send, and the records that remain.
struct SrvReplyCase {
    const char* name;
    std::function<std::string(const testing::DnsQuery&)> reply;
    std::vector<SrvRecord> records;
};

const SrvReplyCase kSrvReplies[] = {
    {"TwoSoundRecords",
     [](const testing::DnsQuery& query) {
         return testing::DnsReply(
             query, {testing::SrvAnswer(0, 100, 389, testing::DnsName("dc1.x.test")),
                     testing::SrvAnswer(10, 0, 3268, testing::DnsName("gc1.x.test"))});
     },
     {{0, 100, 389, "dc1.x.test"}, {10, 0, 3268, "gc1.x.test"}}},
    // The first record's target says "dc1" and then runs on into the next record's first bytes,
    // its owner name's pointer back to the question: a target that its record does not hold.
    {"TargetMustLieWithinItsOwnRecord",
     [](const testing::DnsQuery& query) {
         return testing::DnsReply(
             query, {testing::SrvAnswer(0, 0, 389,
                                        "\x03"
                                        "dc1"),
                     testing::SrvAnswer(5, 10, 3268, testing::DnsName("gc1.x.test"))});
     },
     {{5, 10, 3268, "gc1.x.test"}}},
    {"CompressionPointerLoop",
     [](const testing::DnsQuery& query) {
         const auto self = static_cast<unsigned>(testing::FirstSrvTargetOffset(query));
         const std::string loop{static_cast<char>(0xC0 | (self >> 8)),
                                static_cast<char>(self & 0xFF)};
         return testing::DnsReply(query, {testing::SrvAnswer(0, 0, 389, loop)});
     },
     {}},
    {"MoreAnswersCountedThanSent",
     [](const testing::DnsQuery& query) {
         return testing::DnsReply(
             query, {testing::SrvAnswer(0, 0, 389, testing::DnsName("dc1.x.test"))}, 0, false, 5);
     },
     {}},
    {"TargetDotServiceNotOffered",
     [](const testing::DnsQuery& query) {
         return testing::DnsReply(query, {testing::SrvAnswer(0, 0, 389, testing::DnsName(""))});
     },
     {}},
};

TEST(ParseSrvAnswer, OnlyRecordsWhoseTargetsLieWithinThemAndNameAHost) {
    testing::DnsQuery query;
    query.name = "_ldap._tcp.x.test";
    query.question = testing::DnsName(query.name) + std::string("\0\x21\0\x01", 4);
    for (const auto& c : kSrvReplies) {
        const std::string reply = c.reply(query);
        EXPECT_EQ(
            ParseSrvAnswer(reinterpret_cast<const unsigned char*>(reply.data()), reply.size()),
            c.records)
            << c.name;
    }
}

} // namespace
} // namespace quindral
