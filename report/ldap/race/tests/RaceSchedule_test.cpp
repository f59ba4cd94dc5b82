// The race's schedule on a clock of its own, with no socket: each row scripts when each server's
// address lookup, LDAP ping and connection answers (or never does), and states what the schedule
// starts when, who wins and when the race is over.

#include "ScriptedPing.h"
#include "report/ldap/race/RaceSchedule.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>

namespace quindral {
namespace {

using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;
using testing::DcReply;
using testing::kWritableDcFlags;

constexpr ms kNever{-1};
// How long a silent ping or a hung connection lasts before it gives up (NETWORK_TIMEOUT).
constexpr ms kGivesUp = 5s;

enum class Ping { Silent, Refused, Closest, OtherSite };
enum class Tcp { Answers, Fails, Hangs };

// One domain controller, dcN.quindral.test; every delay counts from the start it answers.
struct Peer {
    const char* name;
    ms address = 0ms; // its lookup's answer (kNever: none comes)
    Ping ping = Ping::Silent;
    ms pingAnswer = 1ms;
    Tcp tcp = Tcp::Answers;
    ms tcpAnswer = 1ms;
    bool inDomainRecords = true;
    bool inSiteRecords = false; // the records of the client's site, SiteB
};

struct ScheduleRow {
    const char* name;
    bool pinged = true;
    std::vector<Peer> peers;
    ms siteRecords = 10ms; // after the site lookup starts (kNever: none comes)
    ms deadline = 20s;
    std::vector<std::string> starts; // "<ms> ping|try|site [dcN]", in order
    const char* winner = nullptr;
    ms over = 0ms;

    friend void PrintTo(const ScheduleRow& row, std::ostream* out) { *out << row.name; }
};

// Drives one schedule through a row's script: a clock that stands still between events, and
// every answer an event at its time.
class ScriptedRace final : public RaceStarts {
public:
    explicit ScriptedRace(const ScheduleRow& row) : row_(row) {
        std::vector<ServerCandidate> domain;
        for (std::size_t i = 0; i < row.peers.size(); ++i) {
            if (row.peers[i].inDomainRecords) {
                domain.push_back(Candidate(row.peers[i]));
            }
        }
        schedule_.emplace([this] { return now_; }, *this, start_ + row.deadline,
                          row.pinged ? std::optional(PingPlan{"quindral.test"}) : std::nullopt,
                          domain);
    }

    void Run() {
        for (int turn = 0; turn < 10000; ++turn) {
            schedule_->Turn();
            if (schedule_->Over()) {
                return;
            }
            auto next = schedule_->WakeAt();
            if (!events_.empty()) {
                next = std::min(next, events_.begin()->first);
            }
            now_ = std::max(now_, next);
            while (!events_.empty() && events_.begin()->first <= now_) {
                auto event = std::move(events_.begin()->second);
                events_.erase(events_.begin());
                event.happen();
            }
        }
        FAIL() << "the race never ended";
    }

    RaceSchedule& schedule() { return *schedule_; }
    std::vector<std::string> starts;
    ms Elapsed() const { return std::chrono::duration_cast<ms>(now_ - start_); }

private:
    struct Event {
        bool ping; // given up with the pings
        std::function<void()> happen;
    };

    static ServerCandidate Candidate(const Peer& peer) {
        const std::string host = std::string(peer.name) + ".quindral.test";
        return ServerCandidate{"ldap://" + host, host, 389};
    }
    const Peer& PeerOf(std::size_t server) const {
        const std::string host = schedule_->Candidate(server).host;
        for (const auto& peer : row_.peers) {
            if (host == std::string(peer.name) + ".quindral.test") {
                return peer;
            }
        }
        throw std::logic_error("no such peer: " + host);
    }
    void Log(const std::string& what, const char* who = nullptr) {
        starts.push_back(std::to_string(Elapsed().count()) + " " + what +
                         (who != nullptr ? std::string(" ") + who : ""));
    }
    void At(ms after, bool ping, std::function<void()> happen) {
        if (after != kNever) {
            events_.emplace(now_ + after, Event{ping, std::move(happen)});
        }
    }

    void LookUpAddresses(std::size_t server) override {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.10", &address.sin_addr);
        sockaddr_storage stored{};
        std::memcpy(&stored, &address, sizeof address);
        At(PeerOf(server).address, false, [this, server, stored] {
            schedule_->AddressesAnswered(server, {stored}); // IPv4
            schedule_->AddressesAnswered(server, {});       // no IPv6
        });
    }
    bool Ping(std::size_t server, const sockaddr_storage&) override {
        const Peer& peer = PeerOf(server);
        Log("ping", peer.name);
        const std::string host = std::string(peer.name) + ".quindral.test";
        switch (peer.ping) {
        case Ping::Silent:
            At(kGivesUp, true, [this, server] { schedule_->PingGone(server); });
            break;
        case Ping::Refused:
            At(0ms, true, [this, server] { schedule_->PingGone(server); });
            break;
        case Ping::Closest:
        case Ping::OtherSite: {
            const bool closest = peer.ping == Ping::Closest;
            At(peer.pingAnswer, true, [this, server, host, closest] {
                schedule_->PingReplied(
                    server, DcReply(host, kWritableDcFlags | (closest ? kDsClosestFlag : 0),
                                    "Default-First-Site-Name",
                                    closest ? "Default-First-Site-Name" : "SiteB"));
            });
            break;
        }
        }
        return true;
    }
    bool Try(std::size_t server, const sockaddr_storage&) override {
        const Peer& peer = PeerOf(server);
        Log("try", peer.name);
        const std::string host = std::string(peer.name) + ".quindral.test";
        switch (peer.tcp) {
        case Tcp::Answers:
            At(peer.tcpAnswer, false, [this, server, host] {
                RootDseEntry entry;
                entry.attributes["dnshostname"] = {"dnsHostName", {host}};
                schedule_->TryAnswered(server, entry);
            });
            break;
        case Tcp::Fails:
            At(peer.tcpAnswer, false, [this, server] { schedule_->TryFailed(server); });
            break;
        case Tcp::Hangs:
            At(kGivesUp, false, [this, server] { schedule_->TryFailed(server); });
            break;
        }
        return true;
    }
    void StopPings() override {
        std::erase_if(events_, [](const auto& event) { return event.second.ping; });
    }
    void LookUpSite(const std::vector<std::string>& names) override {
        Log("site");
        EXPECT_EQ(names.front(), "_ldap._tcp.SiteB._sites.dc._msdcs.quindral.test");
        std::vector<SrvRecord> records;
        for (const auto& peer : row_.peers) {
            if (peer.inSiteRecords) {
                records.push_back({0, 100, 389, std::string(peer.name) + ".quindral.test"});
            }
        }
        At(row_.siteRecords, false, [this, records] { schedule_->SiteRecordsAnswered(records); });
    }

    const ScheduleRow& row_;
    const Clock::time_point start_ = Clock::time_point{} + 1h;
    Clock::time_point now_ = start_;
    std::multimap<Clock::time_point, Event> events_;
    std::optional<RaceSchedule> schedule_;
};

// Nine domain controllers: eight silent to everything ahead of a live one.
std::vector<Peer> EightSilentAheadOfALiveOne() {
    std::vector<Peer> peers;
    static const char* names[] = {"dc1", "dc2", "dc3", "dc4", "dc5", "dc6", "dc7", "dc8"};
    for (const char* name : names) {
        peers.push_back({.name = name, .tcp = Tcp::Hangs});
    }
    peers.push_back({.name = "dc9", .ping = Ping::Closest});
    return peers;
}

const ScheduleRow kRows[] = {
    // Without pings (servers that are not Active Directory's own): the stagger alone.
    {.name = "StaggerWithoutPings",
     .pinged = false,
     .peers = {{.name = "dc1", .tcp = Tcp::Hangs},
               {.name = "dc2", .tcp = Tcp::Hangs},
               {.name = "dc3", .tcpAnswer = 10ms}},
     .starts = {"0 try dc1", "250 try dc2", "500 try dc3"},
     .winner = "dc3",
     .over = 510ms},
    {.name = "FailureLetsTheNextStartAtOnce",
     .pinged = false,
     .peers = {{.name = "dc1", .tcp = Tcp::Fails, .tcpAnswer = 20ms}, {.name = "dc2"}},
     .starts = {"0 try dc1", "20 try dc2"},
     .winner = "dc2",
     .over = 21ms},
    {.name = "ServerStillLookedUpIsPassedOverWhenAConnectionIsDue",
     .pinged = false,
     .peers = {{.name = "dc1", .tcp = Tcp::Hangs},
               {.name = "dc2", .address = kNever},
               {.name = "dc3"}},
     .starts = {"0 try dc1", "250 try dc3"},
     .winner = "dc3",
     .over = 251ms},
    {.name = "AddressThatComesInTimeKeepsItsPlace",
     .pinged = false,
     .peers = {{.name = "dc1", .tcp = Tcp::Hangs},
               {.name = "dc2", .address = 100ms},
               {.name = "dc3"}},
     .starts = {"0 try dc1", "250 try dc2"},
     .winner = "dc2",
     .over = 251ms},
    // Pinged: the first usable reply decides, and the DC that gave it is connected to at once.
    {.name = "DecisionLetsTheAnsweringDcStartAtOnce",
     .peers = {{.name = "dc1", .tcp = Tcp::Hangs},
               {.name = "dc2", .ping = Ping::Closest, .pingAnswer = 5ms}},
     .starts = {"0 ping dc1", "0 ping dc2", "5 try dc2"},
     .winner = "dc2",
     .over = 6ms},
    {.name = "LateReplyStartsItsDcAtOnceBesideATryUnderWay",
     .peers = {{.name = "dc1", .tcp = Tcp::Hangs},
               {.name = "dc2", .ping = Ping::Closest, .pingAnswer = 300ms}},
     .starts = {"0 ping dc1", "0 ping dc2", "250 try dc1", "300 try dc2"},
     .winner = "dc2",
     .over = 301ms},
    {.name = "PingsInBatchesOfFive",
     .peers = EightSilentAheadOfALiveOne(),
     .starts = {"0 ping dc1", "0 ping dc2", "0 ping dc3", "0 ping dc4", "0 ping dc5",
                "100 ping dc6", "100 ping dc7", "100 ping dc8", "100 ping dc9", "101 try dc9"},
     .winner = "dc9",
     .over = 102ms},
    {.name = "RefusedPingLeavesItsPlaceInTheBatch",
     .peers = {{.name = "dc1", .ping = Ping::Refused, .tcp = Tcp::Fails},
               {.name = "dc2", .ping = Ping::Refused, .tcp = Tcp::Fails},
               {.name = "dc3", .ping = Ping::Refused, .tcp = Tcp::Fails},
               {.name = "dc4", .ping = Ping::Refused, .tcp = Tcp::Fails},
               {.name = "dc5", .ping = Ping::Refused, .tcp = Tcp::Fails},
               {.name = "dc6", .ping = Ping::Closest}},
     .starts = {"0 ping dc1", "0 ping dc2", "0 ping dc3", "0 ping dc4", "0 ping dc5", "0 ping dc6",
                "1 try dc6"},
     .winner = "dc6",
     .over = 2ms},
    // Where UDP is filtered, connections start a stagger after the first ping, in the records'
    // order.
    {.name = "NoPingAnswered",
     .peers = {{.name = "dc1"}, {.name = "dc2"}},
     .starts = {"0 ping dc1", "0 ping dc2", "250 try dc1"},
     .winner = "dc1",
     .over = 251ms},
    {.name = "DcThatAnswersAPingAndHangsCostsOneStagger",
     .peers = {{.name = "dc1", .ping = Ping::Closest, .tcp = Tcp::Hangs},
               {.name = "dc2", .ping = Ping::Closest, .pingAnswer = 2ms}},
     .starts = {"0 ping dc1", "0 ping dc2", "1 try dc1", "251 try dc2"},
     .winner = "dc2",
     .over = 252ms},
    // The client is in SiteB, which dc1 does not cover: SiteB's records go first (the order
    // itself is the site selection's table), and its DC is awaited a stagger.
    {.name = "SitesDcHungOtherSitesDcAfterAStagger",
     .peers = {{.name = "dc1", .ping = Ping::OtherSite},
               {.name = "dc2", .tcp = Tcp::Hangs, .inSiteRecords = true}},
     .starts = {"0 ping dc1", "0 ping dc2", "1 site", "11 try dc2", "261 try dc1"},
     .winner = "dc1",
     .over = 262ms},
    {.name = "SiteRecordsLate",
     .peers = {{.name = "dc1", .ping = Ping::OtherSite, .tcp = Tcp::Hangs},
               {.name = "dc3", .inDomainRecords = false, .inSiteRecords = true}},
     .siteRecords = 400ms,
     .starts = {"0 ping dc1", "1 site", "251 try dc1", "401 try dc3"},
     .winner = "dc3",
     .over = 402ms},
    // A far resolver: the site's DC takes 40 ms to resolve after its records came.
    {.name = "SiteDcStillBeingLookedUpIsAwaited",
     .peers = {{.name = "dc1", .ping = Ping::OtherSite},
               {.name = "dc3", .address = 40ms, .inDomainRecords = false, .inSiteRecords = true}},
     .starts = {"0 ping dc1", "1 site", "51 try dc3"},
     .winner = "dc3",
     .over = 52ms},
    {.name = "SiteDcThatNeverResolvesIsAwaitedOneStagger",
     .peers = {{.name = "dc1", .ping = Ping::OtherSite},
               {.name = "dc3", .address = kNever, .inDomainRecords = false, .inSiteRecords = true}},
     .starts = {"0 ping dc1", "1 site", "261 try dc1"},
     .winner = "dc1",
     .over = 262ms},
    {.name = "AllDeadEndsAtOnce",
     .peers = {{.name = "dc1", .ping = Ping::Refused, .tcp = Tcp::Fails, .tcpAnswer = 0ms},
               {.name = "dc2", .ping = Ping::Refused, .tcp = Tcp::Fails, .tcpAnswer = 0ms}},
     .starts = {"0 ping dc1", "0 ping dc2", "0 try dc1", "0 try dc2"},
     .over = 0ms},
    {.name = "UnansweredPingsDoNotHoldARaceWhoseTriesAllFailed",
     .peers = {{.name = "dc1", .tcp = Tcp::Fails, .tcpAnswer = 0ms},
               {.name = "dc2", .tcp = Tcp::Fails, .tcpAnswer = 0ms}},
     .starts = {"0 ping dc1", "0 ping dc2", "250 try dc1", "250 try dc2"},
     .over = 250ms},
    {.name = "Deadline",
     .pinged = false,
     .peers = {{.name = "dc1", .tcp = Tcp::Hangs},
               {.name = "dc2", .tcp = Tcp::Hangs},
               {.name = "dc3", .tcp = Tcp::Hangs}},
     .deadline = 600ms,
     .starts = {"0 try dc1", "250 try dc2", "500 try dc3"},
     .over = 600ms},
};

class RaceScheduleTest : public ::testing::TestWithParam<ScheduleRow> {};

TEST_P(RaceScheduleTest, StartsWinnerAndEnd) {
    const auto& row = GetParam();
    ScriptedRace race(row);
    race.Run();
    EXPECT_EQ(race.starts, row.starts);
    const auto result = race.schedule().TakeResult();
    const auto* host = result.entry ? result.entry->Find("dnsHostName") : nullptr;
    EXPECT_EQ(host != nullptr ? host->values.front() : "none",
              row.winner != nullptr ? std::string(row.winner) + ".quindral.test" : "none");
    EXPECT_EQ(race.Elapsed(), row.over);
}

INSTANTIATE_TEST_SUITE_P(Rows, RaceScheduleTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quindral
