#include "report/ldap/race/RootDseRace.h"

#include "report/ldap/activedirectory/DnsDiscovery.h"

#include <algorithm>
#include <utility>

namespace quindral {

RootDseRace::RootDseRace(ServerTimeouts timeouts, Clock::time_point deadline,
                         std::optional<PingPlan> pingPlan)
    : timeouts_(timeouts), deadline_(deadline), pingPlan_(std::move(pingPlan)) {}

RootDseRace::~RootDseRace() {
    Close();
}

void RootDseRace::Close() {
    resolver_.reset();
    tries_.clear();
    pings_.clear();
    schedule_.reset();
}

RaceResult RootDseRace::Run(std::vector<ServerCandidate> servers) {
    Close();
    RaceStarts& starts = *this;
    schedule_ = std::make_unique<RaceSchedule>([] { return Clock::now(); }, starts, deadline_,
                                               pingPlan_, std::move(servers));
    RunPollLoop(*this, deadline_, [this] { return schedule_->Over(); });
    RaceResult result = schedule_->TakeResult();
    Close();
    return result;
}

AsyncResolver& RootDseRace::Resolver() {
    if (!resolver_) {
        resolver_ = std::make_unique<AsyncResolver>();
    }
    return *resolver_;
}

void RootDseRace::Watch(std::vector<PollWatch>& watches, Clock::time_point& wake,
                        Clock::time_point now) {
    const auto until = [&](Clock::time_point when) { wake = std::min(wake, when); };
    for (auto& running : tries_) {
        watches.push_back(PollWatch{running.part->Fd(), running.part->Events(),
                                    [&running](short revents) { running.revents |= revents; }});
        until(running.part->WakeAt(now));
    }
    for (auto& running : pings_) {
        watches.push_back(PollWatch{running.part->Fd(), POLLIN,
                                    [&running](short revents) { running.revents |= revents; }});
        until(running.part->WakeAt());
    }
    if (resolver_) {
        resolver_->Watch(watches, wake, now);
    }
    until(schedule_->WakeAt());
}

void RootDseRace::Turn(Clock::time_point now) {
    if (resolver_) {
        resolver_->Turn(now);
    }
    for (auto& running : tries_) {
        switch (running.part->Step(std::exchange(running.revents, 0), now)) {
        case TryProgress::UnderWay:
            continue;
        case TryProgress::Failed:
            schedule_->TryFailed(running.server);
            break;
        case TryProgress::Answered:
            schedule_->TryAnswered(running.server, running.part->TakeEntry());
            break;
        }
        running.part.reset();
    }
    std::erase_if(tries_, [](const auto& running) { return running.part == nullptr; });
    for (auto& running : pings_) {
        switch (running.part->Step(std::exchange(running.revents, 0), now)) {
        case PingProgress::UnderWay:
            continue;
        case PingProgress::Gone:
            schedule_->PingGone(running.server);
            break;
        case PingProgress::Replied:
            schedule_->PingReplied(running.server, running.part->TakeReply());
            break;
        }
        running.part.reset();
    }
    std::erase_if(pings_, [](const auto& running) { return running.part == nullptr; });
    schedule_->Turn();
}

void RootDseRace::LookUpAddresses(std::size_t server) {
    const ServerCandidate& candidate = schedule_->Candidate(server);
    for (const int family : {AF_INET, AF_INET6}) {
        Resolver().LookupAddresses(candidate.host, candidate.port, family,
                                   [this, server](std::vector<sockaddr_storage> addresses) {
                                       schedule_->AddressesAnswered(server, addresses);
                                   });
    }
}

bool RootDseRace::Ping(std::size_t server, const sockaddr_storage& address) {
    const auto now = Clock::now();
    auto ping = std::make_unique<PingExchange>(address, pingPlan_->domain, now,
                                               std::min(now + timeouts_.connect, deadline_));
    if (ping->Progress() != PingProgress::UnderWay) {
        return false;
    }
    pings_.push_back({server, std::move(ping)});
    return true;
}

bool RootDseRace::Try(std::size_t server, const sockaddr_storage& address) {
    auto attempt = std::make_unique<RootDseTry>(schedule_->Candidate(server), address, timeouts_,
                                                deadline_, Clock::now());
    if (attempt->Progress() == TryProgress::Failed) {
        return false;
    }
    tries_.push_back({server, std::move(attempt)});
    return true;
}

void RootDseRace::StopPings() {
    pings_.clear();
}

void RootDseRace::LookUpSite(const std::vector<std::string>& names) {
    QueryPreferredSrv(Resolver(), names, [this](std::size_t, std::vector<SrvRecord> records) {
        schedule_->SiteRecordsAnswered(records);
    });
}

} // namespace quindral
