#include "ServerRace.h"

#include "TlsHandshake.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <lber.h>
#include <ldap.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openldap.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quindral {

namespace {

// Servers whose addresses are looked up at the same time, ahead of their turn.
constexpr int kLookupsAhead = 8;

// Where libldap on Debian finds slapd's local socket when an ldapi:// URI names none.
constexpr const char* kDefaultLocalSocket = "/var/run/slapd/ldapi";

// The socket address of a numeric IPv4 or IPv6 host (an IPv6 one with its scope, "fe80::1%eth0"),
// which needs no lookup.
std::optional<sockaddr_storage> NumericAddress(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        return std::nullopt;
    }
    std::optional<sockaddr_storage> address;
    if (found->ai_addrlen <= sizeof(sockaddr_storage)) {
        address.emplace();
        std::memcpy(&*address, found->ai_addr, found->ai_addrlen);
    }
    ::freeaddrinfo(found);
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

std::optional<ServerCandidate> CandidateOfUri(const std::string& uri) {
    LDAPURLDesc* url = nullptr;
    if (ldap_url_parse(uri.c_str(), &url) != LDAP_URL_SUCCESS || url == nullptr) {
        return std::nullopt;
    }
    ServerCandidate candidate;
    candidate.uri = uri;
    const std::string scheme = url->lud_scheme != nullptr ? url->lud_scheme : "ldap";
    const std::string host = url->lud_host != nullptr ? url->lud_host : "";
    const int port = url->lud_port;
    ldap_free_urldesc(url);
    if (scheme == "ldapi") {
        candidate.local = true;
        candidate.host = host.empty() ? kDefaultLocalSocket : host;
        return candidate;
    }
    if (scheme != "ldap" && scheme != "ldaps") {
        return std::nullopt;
    }
    candidate.tls = scheme == "ldaps";
    candidate.host = host.empty() ? "localhost" : host;
    candidate.port = static_cast<std::uint16_t>(port > 0 && port < 65536 ? port
                                                : candidate.tls          ? 636
                                                                         : 389);
    return candidate;
}

struct RootDseRace::Server {
    ServerCandidate candidate;
    bool lookupsStarted = false; // or none needed
    int lookupsUnderWay = 0;     // address families not yet answered
    std::vector<sockaddr_storage> addresses;
    std::size_t nextAddress = 0;

    bool HasAddressLeft() const { return nextAddress < addresses.size(); }
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

RootDseRace::RootDseRace(ServerTimeouts timeouts, Clock::time_point deadline)
    : timeouts_(timeouts), deadline_(deadline) {}

RootDseRace::~RootDseRace() {
    Reset();
}

void RootDseRace::Reset() {
    resolver_.reset();
    lookupsUnderWay_ = 0;
    for (auto& attempt : attempts_) {
        Close(attempt);
    }
    attempts_.clear();
    servers_.clear();
    winner_.reset();
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
    return winner_ ||
           (attempts_.empty() && std::all_of(servers_.begin(), servers_.end(),
                                             [](const Server& s) { return s.Exhausted(); }));
}

void RootDseRace::StartLookups() {
    for (std::size_t i = 0; i < servers_.size() && lookupsUnderWay_ < kLookupsAhead; ++i) {
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
        ++lookupsUnderWay_;
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
                                   if (--server.lookupsUnderWay == 0) {
                                       --lookupsUnderWay_;
                                   }
                               });
}

// The next server to try an address of: the first in order of preference that has one left. A
// server still waiting for its first address holds back the ones after it, unless mayPassOver.
std::optional<std::size_t> RootDseRace::PickServer(bool mayPassOver) const {
    for (std::size_t i = 0; i < servers_.size(); ++i) {
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
        winner_ = RootDseOfReply(attempt.ld, reply);
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
    // The attempts' sockets first, in order, then the resolver's.
    for (const auto& attempt : attempts_) {
        ber_socket_t fd = attempt.fd;
        if (attempt.ld != nullptr) {
            ldap_get_option(attempt.ld, LDAP_OPT_DESC, &fd);
        }
        fds.push_back(pollfd{fd, attempt.events, 0});
        wake = std::min(wake, attempt.expires);
    }
    attemptsPolled_ = attempts_.size();
    if (nextStart_ > now && PickServer(true)) {
        wake = std::min(wake, nextStart_);
    }
    if (resolver_) {
        resolver_->AddPollFds(fds, wake, now);
    }
}

void RootDseRace::Process(std::span<const pollfd> polled, Clock::time_point now) {
    const std::size_t attemptsPolled = std::min(attemptsPolled_, polled.size());
    attemptsPolled_ = 0;
    // The resolver first: its answers may let servers start in this same turn.
    if (resolver_) {
        resolver_->Process(polled.subspan(attemptsPolled), now);
    }
    std::vector<Attempt> kept;
    kept.reserve(attempts_.size());
    for (std::size_t i = 0; i < attempts_.size(); ++i) {
        Attempt& attempt = attempts_[i];
        const short revents = i < attemptsPolled ? polled[i].revents : 0;
        if (!winner_ && Advance(attempt, revents, now) && !winner_) {
            kept.push_back(attempt);
            continue;
        }
        // A server that fails lets the next one start at once.
        Close(attempt);
        nextStart_ = now;
    }
    attempts_ = std::move(kept);
    if (winner_) {
        return;
    }
    StartLookups();
    for (;;) {
        const bool due = now >= nextStart_;
        const auto server = PickServer(due);
        if (!server || !(attempts_.empty() || due)) {
            break;
        }
        // One that fails at once lets the next one start at once too.
        nextStart_ = StartAttempt(*server, now) ? now + kStagger : now;
    }
}

std::optional<RootDseEntry> RootDseRace::Run(std::vector<ServerCandidate> candidates) {
    Reset();
    for (auto& candidate : candidates) {
        Server server;
        server.candidate = std::move(candidate);
        servers_.push_back(std::move(server));
    }
    nextStart_ = Clock::now();
    RunPollLoop(*this, deadline_, [this] { return Finished(); });
    auto winner = std::move(winner_);
    Reset();
    return winner;
}

} // namespace quindral
