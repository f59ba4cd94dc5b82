#include "ServerRace.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <lber.h>
#include <ldap.h>
#include <netinet/in.h>
#include <openldap.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace quindral {

namespace {

constexpr std::chrono::seconds kDefaultConnectTimeout{5};
constexpr std::chrono::seconds kDefaultSearchTimeout{15};

// Servers whose addresses are looked up at the same time, ahead of their turn.
constexpr int kLookupsAhead = 8;

// Where libldap on Debian finds slapd's local socket when an ldapi:// URI names none.
constexpr const char* kDefaultLocalSocket = "/var/run/slapd/ldapi";

std::optional<std::chrono::microseconds> ConfiguredTimeout(int option) {
    struct timeval* value = nullptr;
    if (ldap_get_option(nullptr, option, &value) != LDAP_OPT_SUCCESS || value == nullptr) {
        return std::nullopt;
    }
    const auto timeout =
        std::chrono::seconds(value->tv_sec) + std::chrono::microseconds(value->tv_usec);
    ldap_memfree(value);
    if (timeout <= std::chrono::microseconds::zero()) {
        return std::nullopt;
    }
    return timeout;
}

timeval ToTimeval(Clock::duration duration) {
    const auto micro = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::microseconds>(duration).count());
    timeval value{};
    value.tv_sec = static_cast<time_t>(micro / 1000000);
    value.tv_usec = static_cast<suseconds_t>(micro % 1000000);
    return value;
}

// The socket address of a numeric IPv4 or IPv6 host, which needs no lookup.
std::optional<sockaddr_storage> NumericAddress(const std::string& host, std::uint16_t port) {
    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        return address;
    }
    if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        return address;
    }
    return std::nullopt;
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

ServerTimeouts EffectiveTimeouts() {
    return ServerTimeouts{
        ConfiguredTimeout(LDAP_OPT_NETWORK_TIMEOUT).value_or(kDefaultConnectTimeout),
        ConfiguredTimeout(LDAP_OPT_TIMEOUT).value_or(kDefaultSearchTimeout),
    };
}

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
    enum class State { Waiting, LookingUp, Ready };
    ServerCandidate candidate;
    State state = State::Waiting;
    std::vector<sockaddr_storage> addresses;
    std::size_t nextAddress = 0;

    bool Exhausted() const { return state == State::Ready && nextAddress >= addresses.size(); }
};

struct RootDseRace::Attempt {
    std::size_t server = 0;
    int fd = -1;        // the socket while it connects; then libldap owns it
    LDAP* ld = nullptr; // once connected
    int messageId = -1; // once the search is sent
    Clock::time_point expires;
};

RootDseRace::RootDseRace(ServerTimeouts timeouts, Clock::time_point deadline)
    : timeouts_(timeouts), deadline_(deadline) {}

RootDseRace::~RootDseRace() {
    for (auto& attempt : attempts_) {
        Close(attempt);
    }
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

void RootDseRace::StartLookups() {
    for (std::size_t i = 0; i < servers_.size() && lookupsUnderWay_ < kLookupsAhead; ++i) {
        Server& server = servers_[i];
        if (server.state != Server::State::Waiting) {
            continue;
        }
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
            server.state = Server::State::Ready;
            continue;
        }
        if (const auto numeric = NumericAddress(server.candidate.host, server.candidate.port)) {
            server.addresses.push_back(*numeric);
            server.state = Server::State::Ready;
            continue;
        }
        if (!resolver_) {
            resolver_ = std::make_unique<AsyncResolver>();
        }
        server.state = Server::State::LookingUp;
        ++lookupsUnderWay_;
        resolver_->LookupAddresses(server.candidate.host, server.candidate.port,
                                   [this, i](std::vector<sockaddr_storage> addresses) {
                                       --lookupsUnderWay_;
                                       servers_[i].addresses = std::move(addresses);
                                       servers_[i].state = Server::State::Ready;
                                   });
    }
}

// The next server to try an address of: the first in order of preference that has one left. A
// server still being looked up holds back the ones after it, unless mayPassOver.
std::optional<std::size_t> RootDseRace::PickServer(bool mayPassOver) const {
    for (std::size_t i = 0; i < servers_.size(); ++i) {
        const Server& server = servers_[i];
        if (server.state == Server::State::Ready) {
            if (!server.Exhausted()) {
                return i;
            }
        } else if (!mayPassOver) {
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
    attempt.fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (attempt.fd < 0) {
        return false;
    }
    const bool connected = ::connect(attempt.fd, reinterpret_cast<const sockaddr*>(&address),
                                     AddressLength(address)) == 0;
    if (connected ? !BeginSearch(attempt, now) : errno != EINPROGRESS && errno != EAGAIN) {
        Close(attempt);
        return false;
    }
    if (!connected) {
        attempt.expires = std::min(now + timeouts_.connect, deadline_);
    }
    attempts_.push_back(attempt);
    return true;
}

// Hands the connected socket to libldap and sends the search.
bool RootDseRace::BeginSearch(Attempt& attempt, Clock::time_point now) {
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
        // The handshake runs to its end here, within what is left of the time to connect.
        const timeval handshake = ToTimeval(std::min(now + timeouts_.connect, deadline_) - now);
        if (ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &handshake) != LDAP_OPT_SUCCESS ||
            ldap_install_tls(ld) != LDAP_SUCCESS) {
            return false;
        }
    }
    const auto messageId = SendRootDseSearch(ld);
    if (!messageId) {
        return false;
    }
    attempt.messageId = *messageId;
    attempt.expires = std::min(Clock::now() + timeouts_.search, deadline_);
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
    if (attempt.ld == nullptr) {
        if (revents == 0) {
            return now < attempt.expires;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(attempt.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return false;
        }
        return BeginSearch(attempt, now);
    }
    if (revents != 0 && !ReadReply(attempt)) {
        return false;
    }
    return now < attempt.expires;
}

std::optional<RootDseEntry> RootDseRace::Run(std::vector<ServerCandidate> candidates) {
    servers_.clear();
    for (auto& candidate : candidates) {
        Server server;
        server.candidate = std::move(candidate);
        servers_.push_back(std::move(server));
    }
    auto nextStart = Clock::now() + kStagger;
    std::vector<pollfd> fds;
    while (!winner_) {
        auto now = Clock::now();
        if (now >= deadline_) {
            break;
        }
        StartLookups();
        const bool due = now >= nextStart;
        if (const auto server = PickServer(due); server && (attempts_.empty() || due)) {
            // One that fails at once lets the next one start at once too.
            nextStart = StartAttempt(*server, now) ? now + kStagger : now;
            continue;
        }
        const bool moreToCome = std::any_of(servers_.begin(), servers_.end(),
                                            [](const Server& s) { return !s.Exhausted(); });
        if (attempts_.empty() && !moreToCome) {
            break;
        }

        fds.clear();
        auto wake = deadline_;
        for (const auto& attempt : attempts_) {
            const int fd = attempt.ld != nullptr ? -1 : attempt.fd;
            ber_socket_t ldapFd = -1;
            if (attempt.ld != nullptr) {
                ldap_get_option(attempt.ld, LDAP_OPT_DESC, &ldapFd);
            }
            fds.push_back(pollfd{attempt.ld != nullptr ? ldapFd : fd,
                                 static_cast<short>(attempt.ld != nullptr ? POLLIN : POLLOUT), 0});
            wake = std::min(wake, attempt.expires);
        }
        if (moreToCome && nextStart > now) {
            wake = std::min(wake, nextStart);
        }
        if (resolver_) {
            resolver_->AddPollFds(fds);
            if (const auto dns = resolver_->NextTimeout()) {
                wake = std::min(wake, now + *dns);
            }
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        if (::poll(fds.data(), fds.size(), static_cast<int>(std::max<std::int64_t>(wait, 0))) < 0 &&
            errno != EINTR) {
            break;
        }
        now = Clock::now();
        if (resolver_) {
            resolver_->Process(fds, attempts_.size());
        }
        for (std::size_t i = 0; i < attempts_.size() && !winner_;) {
            if (Advance(attempts_[i], fds[i].revents, now) || winner_) {
                ++i;
                continue;
            }
            // A server that fails lets the next one start at once.
            Close(attempts_[i]);
            attempts_.erase(attempts_.begin() + static_cast<std::ptrdiff_t>(i));
            fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            nextStart = now;
        }
    }
    return std::move(winner_);
}

} // namespace quindral
