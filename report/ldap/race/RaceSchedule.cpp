#include "report/ldap/race/RaceSchedule.h"

#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"
#include "report/ldap/plumbing/SocketAddress.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>
#include <utility>

namespace quindral {

namespace {

bool Among(const std::vector<sockaddr_storage>& addresses, const sockaddr_storage& address) {
    return std::any_of(addresses.begin(), addresses.end(),
                       [&](const auto& known) { return SameEndpoint(known, address); });
}

// The name that a try's certificate is checked against: the host of an ldaps:// server, compared
// without regard to case; none where no certificate is checked, and the address alone counts.
std::string TlsNameOf(const ServerCandidate& candidate) {
    return candidate.tls ? AsciiLowerCase(candidate.host) : std::string();
}

} // namespace

RaceSchedule::RaceSchedule(std::function<Clock::time_point()> clock, RaceStarts& starts,
                           Clock::time_point deadline, std::optional<PingPlan> plan,
                           std::vector<ServerCandidate> servers)
    : clock_(std::move(clock)), starts_(starts), deadline_(deadline), plan_(std::move(plan)),
      startedAt_(clock_()), nextTryAt_(startedAt_) {
    for (auto& candidate : servers) {
        order_.push_back(servers_.Add(std::move(candidate)));
    }
    if (plan_) {
        pings_.emplace(order_, startedAt_);
    }
}

void RaceSchedule::AddressesAnswered(std::size_t server,
                                     const std::vector<sockaddr_storage>& addresses) {
    servers_.FamilyAnswered(server, addresses);
}

void RaceSchedule::PingReplied(std::size_t server, NetlogonReply reply) {
    PingEnded(server);
    if (decidedAt_) {
        return;
    }
    servers_[server].answered = true;
    if (IsUsableReply(reply, *plan_)) {
        answered_.push_back(server);
        if (!pendingDecision_) {
            pendingDecision_ = std::move(reply);
        }
    } else {
        // A DC of another domain, or a catalog that is none or names no usable forest: it is out
        // of this race, also when no reply decides, and so is every other name or record that
        // leads to its addresses, whatever the port.
        unfit_.push_back(server);
        std::erase(order_, server);
        for (const auto& address : servers_[server].addresses) {
            unfitAddresses_.push_back(WithPort(address, 0));
        }
    }
}

void RaceSchedule::PingGone(std::size_t server) {
    PingEnded(server);
}

void RaceSchedule::PingEnded(std::size_t server) {
    servers_[server].pingsUnderWay = std::max(0, servers_[server].pingsUnderWay - 1);
}

void RaceSchedule::TryFailed(std::size_t) {
    triesUnderWay_ = std::max(0, triesUnderWay_ - 1);
    // A server that fails lets the next one start at once.
    nextTryAt_ = clock_();
}

void RaceSchedule::TryAnswered(std::size_t, RootDseEntry entry) {
    triesUnderWay_ = std::max(0, triesUnderWay_ - 1);
    if (!result_.entry) {
        result_.entry = std::move(entry);
    }
}

void RaceSchedule::SiteRecordsAnswered(const std::vector<SrvRecord>& records) {
    const auto now = clock_();
    siteLookup_ = SiteLookup::Answered;
    siteRecordsAt_ = now;
    for (auto& candidate : CandidatesOfRecords(records)) {
        siteServers_.push_back(servers_.FindOrAdd(std::move(candidate)));
    }
    order_ = ConnectOrder(servers_.size(), siteServers_, answered_, unfit_);
    nextTryAt_ = now;
}

void RaceSchedule::Turn() {
    const auto now = clock_();
    if (Over()) {
        return;
    }
    if (auto decision = std::exchange(pendingDecision_, std::nullopt)) {
        Decide(std::move(*decision), now);
        if (Over()) {
            return;
        }
    }
    StartLookups();
    // The servers of the batches due so far are pinged, each as soon as it has an address.
    if (pings_ && !decidedAt_ && !pings_->StartDue(servers_, starts_, now)) {
        descriptorsAt_ = now;
    }
    StartTries(now);
}

// The first usable reply decides the order of connection; with the client in a site that the
// replying DC does not cover, the site's own servers are looked up to go first.
void RaceSchedule::Decide(NetlogonReply reply, Clock::time_point now) {
    decidedAt_ = now;
    starts_.StopPings();
    for (std::size_t i = 0; i < servers_.size(); ++i) {
        servers_[i].pingsUnderWay = 0;
    }
    const auto site = SiteToLookUp(reply);
    // A catalog's site records stand under the forest, which a usable reply names.
    const std::string domain =
        plan_->provider == Provider::GlobalCatalog ? reply.dnsForestName : plan_->domain;
    result_.reply = std::move(reply);
    if (plan_->replyIsEnough) {
        return;
    }
    order_ = ConnectOrder(servers_.size(), siteServers_, answered_, unfit_);
    nextTryAt_ = now; // a server known to be alive may start at once
    if (site) {
        siteLookup_ = SiteLookup::UnderWay;
        starts_.LookUpSite(SiteSrvNamesFor(plan_->provider, *site, domain));
    }
}

void RaceSchedule::StartLookups() {
    // Ahead in the order of connection, which before a decision is the order given.
    for (std::size_t server : servers_.LookupsToStart(order_)) {
        starts_.LookUpAddresses(server);
    }
}

bool RaceSchedule::AnyPingMayBeAnswered() const {
    return pings_ && pings_->MayAnyAnswer(servers_);
}

// Connections wait for the pings: until a reply has decided their order (and the site's servers
// are known, or a stagger has passed), or a stagger after the first pings were due, or until no
// ping can still be answered.
bool RaceSchedule::MayConnect(Clock::time_point now) const {
    if (!plan_) {
        return true;
    }
    if (decidedAt_) {
        return siteLookup_ != SiteLookup::UnderWay || now >= *decidedAt_ + kStagger;
    }
    return now >= startedAt_ + kStagger || !AnyPingMayBeAnswered();
}

bool RaceSchedule::AwaitingSiteServer(std::size_t server, Clock::time_point now) const {
    return siteRecordsAt_ && now < *siteRecordsAt_ + kStagger &&
           std::find(siteServers_.begin(), siteServers_.end(), server) != siteServers_.end();
}

// The first choice is awaited for the first connection, up to a stagger from the race's start: an
// administrator's first URI, the records' best server. Pings unanswered for that long cost the
// same stagger, not a second one.
bool RaceSchedule::AwaitingFirstChoice(Clock::time_point now) const {
    return triesStarted_ == 0 && now < startedAt_ + kStagger;
}

// The next server to try an address of: the first in order that has one left. A server still
// waiting for its first address holds back the ones after it, unless mayPassOver; the first
// choice holds them back for a stagger all the same, and so does a site's server after its
// records came.
std::optional<std::size_t> RaceSchedule::NextToTry(bool mayPassOver, Clock::time_point now) const {
    bool first = true; // no server ahead of this one may still be connected to
    for (std::size_t index : order_) {
        const RaceServer& server = servers_[index];
        if (server.HasAddressToTry()) {
            return index;
        }
        if (server.MayGetAddresses() && (!mayPassOver || AwaitingSiteServer(index, now) ||
                                         (first && AwaitingFirstChoice(now)))) {
            return std::nullopt;
        }
        first = first && server.Exhausted();
    }
    return std::nullopt;
}

void RaceSchedule::StartTries(Clock::time_point now) {
    while (MayConnect(now)) {
        connecting_ = true;
        const bool due = now >= nextTryAt_;
        if (triesUnderWay_ > 0 && !due) {
            return;
        }
        const auto index = NextToTry(due, now);
        if (!index) {
            return;
        }
        RaceServer& server = servers_[*index];
        const sockaddr_storage& address = server.addresses[server.nextTry];
        Endpoint endpoint{address, TlsNameOf(server.candidate)};
        const bool triedAlready = std::any_of(tried_.begin(), tried_.end(), [&](const auto& t) {
            return SameEndpoint(t.address, address) && t.tlsName == endpoint.tlsName;
        });
        if (triedAlready || Among(unfitAddresses_, WithPort(address, 0))) {
            ++server.nextTry; // reached under another name or record already, or unfit
            continue;
        }
        const StartOutcome outcome = starts_.Try(*index, address);
        if (outcome == StartOutcome::NoDescriptor) {
            descriptorsAt_ = now;
            return;
        }
        ++server.nextTry;
        tried_.push_back(std::move(endpoint));
        if (outcome == StartOutcome::Started) {
            ++triesUnderWay_;
            ++triesStarted_;
            nextTryAt_ = now + kStagger;
        } else {
            nextTryAt_ = now; // one that fails at once lets the next one start at once too
        }
    }
}

Clock::time_point RaceSchedule::WakeAt() const {
    const auto now = clock_();
    auto wake = deadline_;
    // Only times still to come count, so that a past one never makes a busy loop.
    const auto until = [&](Clock::time_point when) {
        if (when > now) {
            wake = std::min(wake, when);
        }
    };
    until(nextTryAt_);
    if (plan_ && !decidedAt_) {
        until(startedAt_ + kStagger);
        until(pings_->NextBatchAt(now));
    }
    if (connecting_ && triesStarted_ == 0) {
        until(startedAt_ + kStagger);
    }
    if (descriptorsAt_) {
        until(*descriptorsAt_ + kStagger);
    }
    if (decidedAt_) {
        until(*decidedAt_ + kStagger);
    }
    if (siteRecordsAt_) {
        until(*siteRecordsAt_ + kStagger);
    }
    return wake;
}

bool RaceSchedule::Over() const {
    if (clock_() >= deadline_ || result_.entry ||
        (plan_ && plan_->replyIsEnough && result_.reply)) {
        return true;
    }
    const bool moreToTry = std::any_of(order_.begin(), order_.end(),
                                       [this](std::size_t i) { return !servers_[i].Exhausted(); });
    // Once connections have begun, a ping still unanswered cannot help servers that have all been
    // tried.
    const bool pingsMatter = !decidedAt_ && !connecting_ && AnyPingMayBeAnswered();
    return triesUnderWay_ == 0 && !pingsMatter && !pendingDecision_ &&
           siteLookup_ != SiteLookup::UnderWay && !moreToTry;
}

} // namespace quindral
