#include "report/ldap/race/RootDseRace.h"

#include "report/ldap/activedirectory/DnsDiscovery.h"
#include "report/ldap/host/HostName.h"

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
        names_ = std::make_unique<SystemNames>(*resolver_, HostsLookupOrder());
    }
    return *resolver_;
}

SystemNames& RootDseRace::Names() {
    Resolver();
    return *names_;
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

namespace {

// Steps every part under way with what the last wait found on its socket and hands the outcome to
// ended(server, progress, part), which says whether the part is done; done parts are dropped.
template <typename Running, typename Ended>
void StepAll(std::vector<Running>& running, Clock::time_point now, Ended ended) {
    for (auto& one : running) {
        if (ended(one.server, one.part->Step(std::exchange(one.revents, 0), now), *one.part)) {
            one.part.reset();
        }
    }
    std::erase_if(running, [](const auto& one) { return one.part == nullptr; });
}

} // namespace

void RootDseRace::Turn(Clock::time_point now) {
    if (resolver_) {
        resolver_->Turn(now);
    }
    StepAll(tries_, now, [&](std::size_t server, TryProgress progress, RootDseTry& part) {
        if (progress == TryProgress::Failed) {
            schedule_->TryFailed(server);
        } else if (progress == TryProgress::Answered) {
            schedule_->TryAnswered(server, part.TakeEntry());
        }
        return progress != TryProgress::UnderWay;
    });
    StepAll(pings_, now, [&](std::size_t server, PingProgress progress, PingExchange& part) {
        if (progress == PingProgress::Gone) {
            schedule_->PingGone(server);
        } else if (progress == PingProgress::Replied) {
            schedule_->PingReplied(server, part.TakeReply());
        }
        return progress != PingProgress::UnderWay;
    });
    schedule_->Turn();
}

void RootDseRace::LookUpAddresses(std::size_t server) {
    const ServerCandidate& candidate = schedule_->Candidate(server);
    const auto kind =
        candidate.absolute ? AsyncResolver::Name::Absolute : AsyncResolver::Name::AsConfigured;
    // No resolver applies HOSTALIASES to an absolute name.
    const std::string name = candidate.absolute ? candidate.host : AliasedName(candidate.host);
    for (const int family : kAddressFamilies) {
        Names().LookupAddresses(name, candidate.port, family, kind,
                                [this, server](std::vector<sockaddr_storage> addresses) {
                                    schedule_->AddressesAnswered(server, addresses);
                                });
    }
}

StartOutcome RootDseRace::Ping(std::size_t server, const sockaddr_storage& address) {
    const auto now = Clock::now();
    auto ping = std::make_unique<PingExchange>(address, pingPlan_->domain, now,
                                               std::min(now + timeouts_.connect, deadline_));
    if (ping->Progress() != PingProgress::UnderWay) {
        return ping->OutOfDescriptors() ? StartOutcome::NoDescriptor : StartOutcome::Failed;
    }
    pings_.push_back({server, std::move(ping)});
    return StartOutcome::Started;
}

StartOutcome RootDseRace::Try(std::size_t server, const sockaddr_storage& address) {
    auto attempt = std::make_unique<RootDseTry>(schedule_->Candidate(server), address, timeouts_,
                                                deadline_, Clock::now());
    if (attempt->Progress() == TryProgress::Failed) {
        return attempt->OutOfDescriptors() ? StartOutcome::NoDescriptor : StartOutcome::Failed;
    }
    tries_.push_back({server, std::move(attempt)});
    return StartOutcome::Started;
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
