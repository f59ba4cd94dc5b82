#include "ServerRace.h"

#include "DnsDiscovery.h"
#include "SiteSelection.h"
#include "TlsHandshake.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <lber.h>
#include <ldap.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openldap.h>
#include <random>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace quindral {

namespace {

// Servers whose addresses are looked up at the same time, ahead of their turn.
constexpr int kLookupsAhead = 8;

// Domain controllers answer LDAP pings on UDP port 389, catalogs too.
constexpr std::uint16_t kPingPort = 389;
// An unanswered ping is sent once more after this long.
constexpr auto kPingResend = kStagger / 2;
// The largest reply read; a DC's is a few hundred bytes.
constexpr std::size_t kMaxPingReply = 8192;

sockaddr_storage WithPort(sockaddr_storage address, std::uint16_t port) {
    if (address.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(port);
    } else if (address.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(port);
    }
    return address;
}

socklen_t AddressLength(const sockaddr_storage& address) {
    switch (address.ss_family) {
    case AF_INET:
        return sizeof(sockaddr_in);
    case AF_INET6:
        return sizeof(sockaddr_in6);
    default:
        return sizeof(sockaddr_un);
    }
}

} // namespace

struct RootDseRace::Server {
    ServerCandidate candidate;
    bool lookupsStarted = false; // or none needed
    int lookupsUnderWay = 0;     // address families not yet answered
    std::vector<sockaddr_storage> addresses;
    std::size_t nextAddress = 0;     // the next address to connect to
    std::size_t nextPingAddress = 0; // the next address to ping
    bool answered = false;           // a ping of it was answered

    bool HasAddressLeft() const { return nextAddress < addresses.size(); }
    bool HasPingAddressLeft() const { return !answered && nextPingAddress < addresses.size(); }
    bool MayGetAddresses() const { return !lookupsStarted || lookupsUnderWay > 0; }
    bool Exhausted() const { return !HasAddressLeft() && !MayGetAddresses(); }
};

struct RootDseRace::Attempt {
    enum class Stage { Connecting, Handshaking, Searching };
    std::size_t server = 0;
    Stage stage = Stage::Connecting;
    int fd = -1;        // the socket; once connected, libldap owns it
    LDAP* ld = nullptr; // once connected
    short events = POLLOUT;
    int messageId = -1; // once the search is sent
    Clock::time_point expires;
};

struct RootDseRace::Ping {
    std::size_t server = 0;
    int fd = -1;
    std::int32_t messageId = 0;
    std::string request;
    Clock::time_point resendAt; // when it goes out a second time, if still unanswered
    bool resent = false;
    Clock::time_point expires; // as long as a server has to be reached
};

RootDseRace::RootDseRace(ServerTimeouts timeouts, Clock::time_point deadline,
                         std::optional<PingPlan> pingPlan)
    : timeouts_(timeouts), deadline_(deadline), pingPlan_(std::move(pingPlan)) {}

RootDseRace::~RootDseRace() {
    Reset();
}

void RootDseRace::Reset() {
    resolver_.reset();
    for (auto& attempt : attempts_) {
        Close(attempt);
    }
    attempts_.clear();
    ClosePings();
    servers_.clear();
    order_.clear();
    firstPing_.reset();
    decidedAt_.reset();
    connecting_ = false;
    siteLookupUnderWay_ = false;
    answered_.clear();
    unfit_.clear();
    siteServers_.clear();
    result_ = {};
}

void RootDseRace::ClosePings() {
    for (auto& ping : pings_) {
        ::close(ping.fd);
    }
    pings_.clear();
}

void RootDseRace::Close(Attempt& attempt) {
    if (attempt.ld != nullptr) {
        ldap_unbind_ext(attempt.ld, nullptr, nullptr);
    } else if (attempt.fd >= 0) {
        ::close(attempt.fd);
    }
    attempt.ld = nullptr;
    attempt.fd = -1;
}

bool RootDseRace::Finished() const {
    if (result_.entry || (pingPlan_ && pingPlan_->replyIsEnough && result_.reply)) {
        return true;
    }
    const bool moreToTry = std::any_of(order_.begin(), order_.end(),
                                       [this](std::size_t i) { return !servers_[i].Exhausted(); });
    // Once connections have started, a ping still unanswered cannot help servers that have all
    // been tried.
    return attempts_.empty() && (pings_.empty() || connecting_) && !siteLookupUnderWay_ &&
           !moreToTry;
}

std::size_t RootDseRace::AddServer(ServerCandidate candidate) {
    Server server;
    server.candidate = std::move(candidate);
    servers_.push_back(std::move(server));
    return servers_.size() - 1;
}

void RootDseRace::StartLookups() {
    // Lookups run ahead in the order of connection; a server counts as looked up once it has an
    // address to try.
    int waiting =
        static_cast<int>(std::count_if(servers_.begin(), servers_.end(), [](const Server& s) {
            return s.lookupsUnderWay > 0 && s.addresses.empty();
        }));
    for (std::size_t i : order_) {
        if (waiting >= kLookupsAhead) {
            break;
        }
        Server& server = servers_[i];
        if (server.lookupsStarted) {
            continue;
        }
        server.lookupsStarted = true;
        if (server.candidate.local) {
            sockaddr_un local{};
            local.sun_family = AF_UNIX;
            if (server.candidate.host.size() < sizeof local.sun_path) {
                std::memcpy(local.sun_path, server.candidate.host.data(),
                            server.candidate.host.size());
                sockaddr_storage address{};
                std::memcpy(&address, &local, sizeof local);
                server.addresses.push_back(address);
            }
            continue;
        }
        if (const auto numeric = NumericAddress(server.candidate.host, server.candidate.port)) {
            server.addresses.push_back(*numeric);
            continue;
        }
        if (!resolver_) {
            resolver_ = std::make_unique<AsyncResolver>();
        }
        ++waiting;
        LookUp(i, AF_INET);
        LookUp(i, AF_INET6);
    }
}

// Each family's addresses join the server's as they come, so that a family that is slow to
// answer (or never does) holds nothing up.
void RootDseRace::LookUp(std::size_t index, int family) {
    ++servers_[index].lookupsUnderWay;
    resolver_->LookupAddresses(servers_[index].candidate.host, servers_[index].candidate.port,
                               family, [this, index](std::vector<sockaddr_storage> addresses) {
                                   Server& server = servers_[index];
                                   server.addresses.insert(server.addresses.end(),
                                                           addresses.begin(), addresses.end());
                                   --server.lookupsUnderWay;
                               });
}

// The next server to try an address of: the first in order of preference that has one left. A
// server still waiting for its first address holds back the ones after it, unless mayPassOver.
std::optional<std::size_t> RootDseRace::PickServer(bool mayPassOver) const {
    for (std::size_t i : order_) {
        const Server& server = servers_[i];
        if (server.HasAddressLeft()) {
            return i;
        }
        if (server.MayGetAddresses() && !mayPassOver) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Connections wait for the pings: until a reply has decided their order (and the site's servers
// are known, or a stagger has passed), or a stagger after the first ping, or until nothing is
// left that could answer one.
bool RootDseRace::MayConnect(Clock::time_point now) const {
    if (!pingPlan_) {
        return true;
    }
    if (decidedAt_) {
        return !siteLookupUnderWay_ || now >= *decidedAt_ + kStagger;
    }
    if (firstPing_ && now >= *firstPing_ + kStagger) {
        return true;
    }
    return pings_.empty() && !PickPingServer(true) &&
           std::none_of(servers_.begin(), servers_.end(),
                        [](const Server& s) { return s.MayGetAddresses(); });
}

// The next server to ping, like the next to connect to, in the order the records gave.
std::optional<std::size_t> RootDseRace::PickPingServer(bool mayPassOver) const {
    for (std::size_t i = 0; i < servers_.size(); ++i) {
        const Server& server = servers_[i];
        if (server.HasPingAddressLeft()) {
            return i;
        }
        if (!server.answered && server.MayGetAddresses() && !mayPassOver) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool RootDseRace::StartPing(std::size_t index, Clock::time_point now) {
    Server& server = servers_[index];
    const sockaddr_storage address =
        WithPort(server.addresses[server.nextPingAddress++], kPingPort);
    Ping ping;
    ping.server = index;
    ping.fd = ::socket(address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (ping.fd < 0) {
        return false;
    }
    static thread_local std::mt19937 generator{std::random_device{}()};
    ping.messageId = std::uniform_int_distribution<std::int32_t>(1, INT32_MAX)(generator);
    ping.request = EncodeLdapPing(ping.messageId, pingPlan_->domain);
    // Connected, so that only the pinged address and port can answer.
    if (::connect(ping.fd, reinterpret_cast<const sockaddr*>(&address), AddressLength(address)) !=
            0 ||
        ::send(ping.fd, ping.request.data(), ping.request.size(), 0) < 0) {
        ::close(ping.fd);
        return false;
    }
    ping.resendAt = now + kPingResend;
    ping.expires = std::min(now + timeouts_.connect, deadline_);
    pings_.push_back(std::move(ping));
    return true;
}

bool RootDseRace::AdvancePing(Ping& ping, short revents, Clock::time_point now) {
    if (revents != 0) {
        for (;;) {
            char datagram[kMaxPingReply];
            const ssize_t got = ::recv(ping.fd, datagram, sizeof datagram, MSG_DONTWAIT);
            if (got < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    break;
                }
                return false; // refused: nothing listens there
            }
            auto reply = ParseLdapPingReply(
                std::string_view(datagram, static_cast<std::size_t>(got)), ping.messageId);
            if (!reply) {
                continue; // another message, or not a reply
            }
            Server& server = servers_[ping.server];
            server.answered = true;
            if (IsUsableReply(*reply, pingPlan_->provider)) {
                answered_.push_back(ping.server);
                if (!pendingDecision_) {
                    pendingDecision_ = std::move(*reply);
                }
            } else {
                unfit_.push_back(ping.server);
            }
            return false;
        }
    }
    if (!ping.resent && now >= ping.resendAt) {
        ping.resent = true;
        if (::send(ping.fd, ping.request.data(), ping.request.size(), 0) < 0 && errno != EAGAIN) {
            return false;
        }
    }
    return now < ping.expires;
}

// The first usable reply decides the order of connection; with the client in a site that the
// replying DC does not cover, the site's own servers are looked up to go first.
void RootDseRace::Decide(NetlogonReply reply, Clock::time_point now) {
    decidedAt_ = now;
    ClosePings();
    const auto site = SiteToLookUp(reply);
    const std::string domain =
        pingPlan_->provider == Provider::GlobalCatalog && !reply.dnsForestName.empty()
            ? reply.dnsForestName
            : pingPlan_->domain;
    result_.reply = std::move(reply);
    if (pingPlan_->replyIsEnough) {
        return;
    }
    order_ = ConnectOrder(servers_.size(), siteServers_, answered_, unfit_);
    nextStart_ = now; // a server known to be alive may start at once
    if (!site) {
        return;
    }
    if (!resolver_) {
        resolver_ = std::make_unique<AsyncResolver>();
    }
    siteLookupUnderWay_ = true;
    QueryPreferredSrv(*resolver_, SiteSrvNamesFor(pingPlan_->provider, *site, domain),
                      [this](std::size_t, std::vector<SrvRecord> records) {
                          siteLookupUnderWay_ = false;
                          AddSiteServers(records, Clock::now());
                      });
}

void RootDseRace::AddSiteServers(const std::vector<SrvRecord>& records, Clock::time_point now) {
    for (auto& candidate : CandidatesOfRecords(records)) {
        const auto known = std::find_if(servers_.begin(), servers_.end(), [&](const Server& s) {
            return s.candidate.port == candidate.port &&
                   AsciiLowerCase(s.candidate.host) == AsciiLowerCase(candidate.host);
        });
        siteServers_.push_back(known != servers_.end()
                                   ? static_cast<std::size_t>(known - servers_.begin())
                                   : AddServer(std::move(candidate)));
    }
    order_ = ConnectOrder(servers_.size(), siteServers_, answered_, unfit_);
    nextStart_ = now;
}

bool RootDseRace::StartAttempt(std::size_t index, Clock::time_point now) {
    Server& server = servers_[index];
    const sockaddr_storage& address = server.addresses[server.nextAddress++];
    Attempt attempt;
    attempt.server = index;
    attempt.expires = std::min(now + timeouts_.connect, deadline_);
    attempt.fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (attempt.fd < 0) {
        return false;
    }
    if (address.ss_family != AF_UNIX) {
        // As libldap sets its own sockets: the TLS handshake's small records go out at once
        // rather than wait for the peer's delayed acknowledgement.
        const int on = 1;
        ::setsockopt(attempt.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    const bool connected = ::connect(attempt.fd, reinterpret_cast<const sockaddr*>(&address),
                                     AddressLength(address)) == 0;
    const bool underWay =
        connected ? Connected(attempt, now) : errno == EINPROGRESS || errno == EAGAIN;
    if (!underWay) {
        Close(attempt);
        return false;
    }
    attempts_.push_back(attempt);
    return true;
}

// Hands the connected socket to libldap; then the TLS handshake of ldaps://, or the search.
bool RootDseRace::Connected(Attempt& attempt, Clock::time_point now) {
    const ServerCandidate& candidate = servers_[attempt.server].candidate;
    LDAP* ld = nullptr;
    if (ldap_init_fd(attempt.fd, candidate.local ? LDAP_PROTO_IPC : LDAP_PROTO_TCP,
                     candidate.uri.c_str(), &ld) != LDAP_SUCCESS ||
        ld == nullptr) {
        return false;
    }
    attempt.ld = ld;
    int version = LDAP_VERSION3;
    if (ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
        ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) != LDAP_OPT_SUCCESS) {
        return false;
    }
    if (candidate.tls) {
        // The handshake shares the time to connect, which keeps running.
        attempt.stage = Attempt::Stage::Handshaking;
        return StepHandshake(attempt, now);
    }
    return SendSearch(attempt, now);
}

bool RootDseRace::StepHandshake(Attempt& attempt, Clock::time_point now) {
    switch (StepTlsHandshake(attempt.ld, servers_[attempt.server].candidate.host)) {
    case TlsProgress::Done:
        return SendSearch(attempt, now);
    case TlsProgress::WantRead:
        attempt.events = POLLIN;
        return true;
    case TlsProgress::WantWrite:
        attempt.events = POLLOUT;
        return true;
    case TlsProgress::Failed:
        break;
    }
    return false;
}

bool RootDseRace::SendSearch(Attempt& attempt, Clock::time_point now) {
    const auto messageId = SendRootDseSearch(attempt.ld);
    if (!messageId) {
        return false;
    }
    attempt.stage = Attempt::Stage::Searching;
    attempt.events = POLLIN;
    attempt.messageId = *messageId;
    attempt.expires = std::min(now + timeouts_.search, deadline_);
    return true;
}

bool RootDseRace::ReadReply(Attempt& attempt) {
    Sockbuf* buffer = nullptr;
    ldap_get_option(attempt.ld, LDAP_OPT_SOCKBUF, &buffer);
    // One message is read per call; what is already buffered is read without waiting.
    for (;;) {
        timeval noWait{0, 0};
        LDAPMessage* reply = nullptr;
        const int rc = ldap_result(attempt.ld, attempt.messageId, LDAP_MSG_ALL, &noWait, &reply);
        if (rc == 0) {
            if (buffer != nullptr && ber_sockbuf_ctrl(buffer, LBER_SB_OPT_DATA_READY, nullptr)) {
                continue;
            }
            return true;
        }
        if (rc < 0 || reply == nullptr) {
            ldap_msgfree(reply);
            return false;
        }
        result_.entry = RootDseOfReply(attempt.ld, reply);
        ldap_msgfree(reply);
        return false;
    }
}

bool RootDseRace::Advance(Attempt& attempt, short revents, Clock::time_point now) {
    if (revents != 0) {
        switch (attempt.stage) {
        case Attempt::Stage::Connecting: {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(attempt.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
                error != 0 || !Connected(attempt, now)) {
                return false;
            }
            break;
        }
        case Attempt::Stage::Handshaking:
            if (!StepHandshake(attempt, now)) {
                return false;
            }
            break;
        case Attempt::Stage::Searching:
            if (!ReadReply(attempt)) {
                return false;
            }
            break;
        }
    }
    return now < attempt.expires;
}

void RootDseRace::AddPollFds(std::vector<pollfd>& fds, Clock::time_point& wake,
                             Clock::time_point now) {
    // The attempts' sockets first, in order, then the pings', then the resolver's. Every time
    // that may let something happen is a wake time; only those still to come count, so that a
    // past one never makes a busy loop.
    const auto until = [&](Clock::time_point when) {
        if (when > now) {
            wake = std::min(wake, when);
        }
    };
    for (const auto& attempt : attempts_) {
        ber_socket_t fd = attempt.fd;
        if (attempt.ld != nullptr) {
            ldap_get_option(attempt.ld, LDAP_OPT_DESC, &fd);
        }
        fds.push_back(pollfd{fd, attempt.events, 0});
        until(attempt.expires);
    }
    attemptsPolled_ = attempts_.size();
    for (const auto& ping : pings_) {
        fds.push_back(pollfd{ping.fd, POLLIN, 0});
        until(ping.resent ? ping.expires : std::min(ping.resendAt, ping.expires));
    }
    pingsPolled_ = pings_.size();
    until(nextStart_);
    until(nextPing_);
    if (firstPing_) {
        until(*firstPing_ + kStagger);
    }
    if (decidedAt_) {
        until(*decidedAt_ + kStagger);
    }
    if (resolver_) {
        resolver_->AddPollFds(fds, wake, now);
    }
}

void RootDseRace::Process(std::span<const pollfd> polled, Clock::time_point now) {
    const std::size_t attemptsPolled = std::min(attemptsPolled_, polled.size());
    const std::size_t pingsPolled = std::min(pingsPolled_, polled.size() - attemptsPolled);
    attemptsPolled_ = 0;
    pingsPolled_ = 0;
    // The resolver first: its answers may let servers start in this same turn.
    if (resolver_) {
        resolver_->Process(polled.subspan(attemptsPolled + pingsPolled), now);
    }

    std::vector<Attempt> keptAttempts;
    keptAttempts.reserve(attempts_.size());
    for (std::size_t i = 0; i < attempts_.size(); ++i) {
        Attempt& attempt = attempts_[i];
        const short revents = i < attemptsPolled ? polled[i].revents : 0;
        if (!result_.entry && Advance(attempt, revents, now) && !result_.entry) {
            keptAttempts.push_back(attempt);
            continue;
        }
        // A server that fails lets the next one start at once.
        Close(attempt);
        nextStart_ = now;
    }
    attempts_ = std::move(keptAttempts);
    if (result_.entry) {
        return;
    }

    std::vector<Ping> keptPings;
    for (std::size_t i = 0; i < pings_.size(); ++i) {
        Ping& ping = pings_[i];
        const short revents = i < pingsPolled ? polled[attemptsPolled + i].revents : 0;
        if (AdvancePing(ping, revents, now)) {
            keptPings.push_back(std::move(ping));
            continue;
        }
        // Answered, refused or given up: the next server is pinged at once.
        ::close(ping.fd);
        nextPing_ = now;
    }
    pings_ = std::move(keptPings);
    if (auto decision = std::exchange(pendingDecision_, std::nullopt)) {
        Decide(std::move(*decision), now);
    }
    if (Finished()) {
        return;
    }

    StartLookups();
    while (pingPlan_ && !decidedAt_) {
        const bool due = now >= nextPing_;
        const auto server = PickPingServer(due);
        if (!server || !(pings_.empty() || due)) {
            break;
        }
        if (!firstPing_) {
            firstPing_ = now;
        }
        nextPing_ = StartPing(*server, now) ? now + kStagger : now;
    }
    while (MayConnect(now)) {
        connecting_ = true;
        const bool due = now >= nextStart_;
        const auto server = PickServer(due);
        if (!server || !(attempts_.empty() || due)) {
            break;
        }
        // One that fails at once lets the next one start at once too.
        nextStart_ = StartAttempt(*server, now) ? now + kStagger : now;
    }
}

RaceResult RootDseRace::Run(std::vector<ServerCandidate> candidates) {
    Reset();
    for (auto& candidate : candidates) {
        order_.push_back(AddServer(std::move(candidate)));
    }
    nextStart_ = Clock::now();
    nextPing_ = nextStart_;
    RunPollLoop(*this, deadline_, [this] { return Finished(); });
    auto result = std::move(result_);
    Reset();
    return result;
}

} // namespace quindral
