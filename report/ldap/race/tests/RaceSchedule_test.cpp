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

enum class Ping { Silent, Refused, Closest, OtherSite, OtherDomain };
enum class Tcp { Answers, Fails, Hangs };

// One domain controller, dcN.quindral.test; every delay counts from the start it answers.
struct Peer {
    const char* name;
    ms address = 0ms;  // its lookup's answer (kNever: none comes)
    int host = 0;      // its address, 127.0.1.host (0: its own, by its place in the row)
    int addresses = 1; // how many IPv4 addresses its name has
    Ping ping = Ping::Silent;
    ms pingAnswer = 1ms;
    Tcp tcp = Tcp::Answers;
    ms tcpAnswer = 1ms;
    bool inDomainRecords = true;
    bool inSiteRecords = false; // the records of the client's site, SiteB
    bool tls = false;           // ldaps://, its certificate checked against its name
};

struct ScheduleRow {
    const char* name;
    bool pinged = true;
    std::vector<Peer> peers;
    ms siteRecords = 10ms; // after the site lookup starts (kNever: none comes)
    ms deadline = 20s;
    int descriptors = 1000;          // how many pings and tries may be open at once
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
        return ServerCandidate{(peer.tls ? "ldaps://" : "ldap://") + host, host,
                               std::uint16_t(peer.tls ? 636 : 389), peer.tls};
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
        const Peer& peer = PeerOf(server);
        const auto place = &peer - row_.peers.data();
        std::vector<sockaddr_storage> stored;
        for (int i = 0; i < peer.addresses; ++i) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(389);
            address.sin_addr.s_addr =
                htonl(0x7F000000u + (static_cast<std::uint32_t>(i) << 8) +
                      static_cast<std::uint32_t>(peer.host > 0 ? peer.host : place + 1));
            stored.emplace_back();
            std::memcpy(&stored.back(), &address, sizeof address);
        }
        At(peer.address, false, [this, server, stored] {
            schedule_->AddressesAnswered(server, stored); // IPv4
            schedule_->AddressesAnswered(server, {});     // no IPv6
        });
    }
    // Whether one more ping or try finds a descriptor; each one's end gives it back.
    bool Open() {
        if (open_ >= row_.descriptors) {
            return false;
        }
        ++open_;
        return true;
    }
    std::function<void()> Closing(std::function<void()> happen) {
        return [this, happen] {
            --open_;
            happen();
        };
    }
    StartOutcome Ping(std::size_t server, const sockaddr_storage&) override {
        const Peer& peer = PeerOf(server);
        if (!Open()) {
            return StartOutcome::NoDescriptor;
        }
        Log("ping", peer.name);
        const std::string host = std::string(peer.name) + ".quindral.test";
        switch (peer.ping) {
        case Ping::Silent:
            At(kGivesUp, true, Closing([this, server] { schedule_->PingGone(server); }));
            break;
        case Ping::Refused:
            At(0ms, true, Closing([this, server] { schedule_->PingGone(server); }));
            break;
        case Ping::Closest:
        case Ping::OtherSite:
        case Ping::OtherDomain: {
            const bool closest = peer.ping != Ping::OtherSite;
            const std::string domain =
                peer.ping == Ping::OtherDomain ? "other.test" : "quindral.test";
            const std::string replier = std::string(peer.name) + "." + domain;
            At(peer.pingAnswer, true, Closing([this, server, replier, closest, domain] {
                   schedule_->PingReplied(
                       server, DcReply(replier, kWritableDcFlags | (closest ? kDsClosestFlag : 0),
                                       "Default-First-Site-Name",
                                       closest ? "Default-First-Site-Name" : "SiteB", domain));
               }));
            break;
        }
        }
        return StartOutcome::Started;
    }
    StartOutcome Try(std::size_t server, const sockaddr_storage&) override {
        const Peer& peer = PeerOf(server);
        if (!Open()) {
            return StartOutcome::NoDescriptor;
        }
        Log("try", peer.name);
        const std::string host = std::string(peer.name) + ".quindral.test";
        switch (peer.tcp) {
        case Tcp::Answers:
            At(peer.tcpAnswer, false, Closing([this, server, host] {
                   RootDseEntry entry;
                   entry.attributes["dnshostname"] = {"dnsHostName", {host}};
                   schedule_->TryAnswered(server, entry);
               }));
            break;
        case Tcp::Fails:
            At(peer.tcpAnswer, false, Closing([this, server] { schedule_->TryFailed(server); }));
            break;
        case Tcp::Hangs:
            At(kGivesUp, false, Closing([this, server] { schedule_->TryFailed(server); }));
            break;
        }
        return StartOutcome::Started;
    }
    void StopPings() override {
        open_ -= static_cast<int>(
            std::erase_if(events_, [](const auto& event) { return event.second.ping; }));
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
    int open_ = 0;
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

// Five domain controllers whose names resolve after the delay given (or never), ahead of a sixth.
std::vector<Peer> FiveNamesAheadOf(ms address, Peer sixth) {
    std::vector<Peer> peers;
    for (const char* name : {"dc1", "dc2", "dc3", "dc4", "dc5"}) {
        peers.push_back({.name = name, .address = address});
    }
    peers.push_back(sixth);
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
    // A place in a batch goes to a server that has an address; one whose address comes later is
    // pinged when it comes.
    {.name = "UnresolvedNamesHoldNoPlaceInTheBatch",
     .peers = FiveNamesAheadOf(kNever, {.name = "dc6", .ping = Ping::Closest}),
     .starts = {"0 ping dc6", "1 try dc6"},
     .winner = "dc6",
     .over = 2ms},
    {.name = "NamesThatResolveLateArePingedWhenTheyResolve",
     .peers = FiveNamesAheadOf(50ms, {.name = "dc6", .ping = Ping::Closest, .pingAnswer = 100ms}),
     .starts = {"0 ping dc6", "50 ping dc1", "50 ping dc2", "50 ping dc3", "50 ping dc4",
                "50 ping dc5", "100 try dc6"},
     .winner = "dc6",
     .over = 101ms},
    // No reply and a first choice still resolving cost one stagger together, both from the start.
    {.name = "NoReplyConnectsAStaggerAfterThePingsWereDueSentOrNot",
     .peers = {{.name = "dc1", .address = kNever}, {.name = "dc2", .address = 300ms}},
     .starts = {"300 ping dc2", "300 try dc2"},
     .winner = "dc2",
     .over = 301ms},
    // The first choice is awaited for the first connection, a stagger at most.
    {.name = "FirstChoiceStillResolvingIsAwaited",
     .pinged = false,
     .peers = {{.name = "dc1", .address = 100ms}, {.name = "dc2"}},
     .starts = {"100 try dc1"},
     .winner = "dc1",
     .over = 101ms},
    {.name = "FirstChoiceThatNeverResolvesIsAwaitedOneStagger",
     .pinged = false,
     .peers = {{.name = "dc1", .address = kNever}, {.name = "dc2"}},
     .starts = {"250 try dc2"},
     .winner = "dc2",
     .over = 251ms},
    // A DC that answers for another domain is out of the race, also when no reply decides.
    {.name = "UnfitReplyTakesItsDcOut",
     .peers = {{.name = "dc1", .ping = Ping::OtherDomain}, {.name = "dc2"}},
     .starts = {"0 ping dc1", "0 ping dc2", "250 try dc2"},
     .winner = "dc2",
     .over = 251ms},
    // Each address and port once, however many records or names lead to it.
    {.name = "DcListedTwiceIsTriedOnce",
     .pinged = false,
     .peers = {{.name = "dc1", .tcp = Tcp::Hangs}, {.name = "dc1"}, {.name = "dc2"}},
     .starts = {"0 try dc1", "250 try dc2"},
     .winner = "dc2",
     .over = 251ms},
    // Under ldaps:// the name decides whether the certificate passes: the same address under a
    // second name is tried again.
    {.name = "LdapsServerUnderASecondNameIsTriedAgain",
     .pinged = false,
     .peers = {{.name = "dc1", .host = 9, .tcp = Tcp::Fails, .tls = true},
               {.name = "dc2", .host = 9, .tls = true}},
     .starts = {"0 try dc1", "1 try dc2"},
     .winner = "dc2",
     .over = 2ms},
    // A DC whose reply did not count is out under every name that leads to its address.
    {.name = "UnfitDcUnderASecondNameIsNotTried",
     .peers = {{.name = "dc1", .host = 9, .ping = Ping::OtherDomain},
               {.name = "dc2", .host = 9},
               {.name = "dc3"}},
     .starts = {"0 ping dc1", "0 ping dc3", "250 try dc3"},
     .winner = "dc3",
     .over = 251ms},
    {.name = "TwoNamesOfOneAddressAreTriedOnce",
     .peers = {{.name = "dc1", .host = 9, .tcp = Tcp::Hangs},
               {.name = "dc2", .host = 9, .tcp = Tcp::Hangs},
               {.name = "dc3"}},
     .starts = {"0 ping dc1", "0 ping dc3", "250 try dc1", "500 try dc3"},
     .winner = "dc3",
     .over = 501ms},
    // Bounded sockets: the first address of each family is pinged; a start that finds no
    // descriptor is made again once one is free.
    {.name = "HundredsOfAddressesCostOnePing",
     .peers = {{.name = "dc1", .addresses = 300, .tcp = Tcp::Hangs},
               {.name = "dc2", .ping = Ping::Closest, .pingAnswer = 5ms}},
     .starts = {"0 ping dc1", "0 ping dc2", "5 try dc2"},
     .winner = "dc2",
     .over = 6ms},
    {.name = "NoDescriptorIsNoFailedServer",
     .pinged = false,
     .peers = {{.name = "dc1", .tcp = Tcp::Hangs}, {.name = "dc2"}},
     .descriptors = 1,
     .starts = {"0 try dc1", "5000 try dc2"},
     .winner = "dc2",
     .over = 5001ms},
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
