#include "report/ldap/plumbing/AsyncResolver.h"

#include <algorithm>
#include <ares.h>
#include <arpa/nameser.h>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <resolv.h>

namespace quindral {

namespace {

// The system resolver's per-query timeout and number of attempts, as resolv.conf (or RES_OPTIONS)
// sets them, so that this resolver waits exactly as long as the system's own would.
void SystemTimeouts(ares_options& options, int& mask) {
    struct __res_state state {};
    if (res_ninit(&state) == 0) {
        options.timeout = state.retrans * 1000;
        options.tries = state.retry;
        mask |= ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES;
    }
    res_nclose(&state);
}

} // namespace

// One started query: the caller's callback, and the count of unanswered queries to keep right.
template <typename Result> struct AsyncResolver::Call {
    AsyncResolver* resolver;
    std::function<void(Result)> done;

    // Takes the call back from c-ares' argument. While the channel is being destroyed the answer
    // is dropped: c-ares may still report success then (an address lookup with one family
    // answered), but the caller may already be gone.
    static void Finish(void* arg, int status, Result result) {
        std::unique_ptr<Call> call(static_cast<Call*>(arg));
        --call->resolver->pending_;
        if (!call->resolver->closing_ && status != ARES_EDESTRUCTION) {
            call->done(std::move(result));
        }
    }
};

AsyncResolver::AsyncResolver() = default;

AsyncResolver::~AsyncResolver() {
    closing_ = true;
    for (ares_channeldata* channel : channels_) {
        if (channel != nullptr) {
            ares_destroy(channel);
        }
    }
}

ares_channeldata* AsyncResolver::Channel(Name kind) {
    const auto which = static_cast<std::size_t>(kind);
    if (made_[which]) {
        return channels_[which];
    }
    made_[which] = true;
    static std::once_flag initialised;
    static bool libraryOk = false;
    std::call_once(initialised, [] { libraryOk = ares_library_init(ARES_LIB_INIT_ALL) == 0; });
    if (!libraryOk) {
        return nullptr;
    }
    ares_options options{};
    int mask = 0;
    SystemTimeouts(options, mask);
    if (kind == Name::Absolute) {
        options.domains = nullptr;
        options.ndomains = 0;
        mask |= ARES_OPT_DOMAINS;
    }
    if (ares_init_options(&channels_[which], &options, mask) != ARES_SUCCESS) {
        channels_[which] = nullptr;
    }
    return channels_[which];
}

void AsyncResolver::QuerySrv(const std::string& name,
                             std::function<void(std::vector<SrvRecord>)> done) {
    ares_channeldata* channel = Channel(Name::AsConfigured);
    if (channel == nullptr) {
        done({});
        return;
    }
    ++pending_;
    using SrvCall = Call<std::vector<SrvRecord>>;
    ares_query(
        channel, name.c_str(), ns_c_in, ns_t_srv,
        [](void* arg, int status, int, unsigned char* reply, int length) {
            std::vector<SrvRecord> records;
            if (status == ARES_SUCCESS && reply != nullptr && length > 0) {
                records = ParseSrvAnswer(reply, static_cast<std::size_t>(length));
            }
            SrvCall::Finish(arg, status, std::move(records));
        },
        new SrvCall{this, std::move(done)});
}

void AsyncResolver::LookupAddresses(const std::string& host, std::uint16_t port, int family,
                                    Name kind,
                                    std::function<void(std::vector<sockaddr_storage>)> done) {
    ares_channeldata* channel = Channel(kind);
    if (channel == nullptr) {
        done({});
        return;
    }
    ++pending_;
    using AddressCall = Call<std::vector<sockaddr_storage>>;
    ares_addrinfo_hints hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = ARES_AI_NUMERICSERV;
    const std::string name =
        kind == Name::Absolute && host.ends_with('.') ? host.substr(0, host.size() - 1) : host;
    ares_getaddrinfo(
        channel, name.c_str(), std::to_string(port).c_str(), &hints,
        [](void* arg, int status, int, ares_addrinfo* found) {
            std::vector<sockaddr_storage> addresses;
            if (status == ARES_SUCCESS && found != nullptr) {
                for (auto* node = found->nodes; node != nullptr; node = node->ai_next) {
                    sockaddr_storage address{};
                    if (node->ai_addr != nullptr && node->ai_addrlen > 0 &&
                        static_cast<std::size_t>(node->ai_addrlen) <= sizeof address) {
                        std::memcpy(&address, node->ai_addr, node->ai_addrlen);
                        addresses.push_back(address);
                    }
                }
            }
            ares_freeaddrinfo(found);
            AddressCall::Finish(arg, status, std::move(addresses));
        },
        new AddressCall{this, std::move(done)});
}

void AsyncResolver::LookupCanonicalName(const std::string& host,
                                        std::function<void(std::optional<std::string>)> done) {
    ares_channeldata* channel = Channel(Name::AsConfigured);
    if (channel == nullptr) {
        done(std::nullopt);
        return;
    }
    ++pending_;
    using NameCall = Call<std::optional<std::string>>;
    ares_gethostbyname(
        channel, host.c_str(), AF_INET,
        [](void* arg, int status, int, hostent* found) {
            std::optional<std::string> name;
            if (status == ARES_SUCCESS && found != nullptr && found->h_name != nullptr) {
                name = found->h_name;
            }
            NameCall::Finish(arg, status, std::move(name));
        },
        new NameCall{this, std::move(done)});
}

void AsyncResolver::Watch(std::vector<PollWatch>& watches, Clock::time_point& wake,
                          Clock::time_point now) {
    for (ares_channeldata* channel : channels_) {
        if (channel == nullptr) {
            continue;
        }
        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            short events = 0;
            if (ARES_GETSOCK_READABLE(bits, i)) {
                events |= POLLIN;
            }
            if (ARES_GETSOCK_WRITABLE(bits, i)) {
                events |= POLLOUT;
            }
            if (events != 0) {
                const ares_socket_t fd = sockets[i];
                watches.push_back(PollWatch{fd, events, [channel, fd](short revents) {
                                                const bool readable =
                                                    (revents & (POLLIN | POLLERR | POLLHUP)) != 0;
                                                const bool writable = (revents & POLLOUT) != 0;
                                                ares_process_fd(channel,
                                                                readable ? fd : ARES_SOCKET_BAD,
                                                                writable ? fd : ARES_SOCKET_BAD);
                                            }});
            }
        }
        timeval space{};
        if (pending_ > 0) {
            if (const timeval* next = ares_timeout(channel, nullptr, &space)) {
                // A millisecond late rather than early, so that the timeout has passed when
                // c-ares looks.
                wake = std::min(wake, now + std::chrono::seconds(next->tv_sec) +
                                          std::chrono::microseconds(next->tv_usec) +
                                          std::chrono::milliseconds(1));
            }
        }
    }
}

void AsyncResolver::Turn(Clock::time_point) {
    for (ares_channeldata* channel : channels_) {
        if (channel != nullptr) {
            // Timeouts are handled by a call with no socket.
            ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
        }
    }
}

} // namespace quindral
