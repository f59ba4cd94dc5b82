#include "report/ldap/plumbing/AsyncResolver.h"

#include "report/ldap/plumbing/Text.h"

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

// The name an address lookup found the host under, as gethostbyname's h_name gives it: the name
// the answer came for (the search list applied), followed along its CNAME records to their end.
std::optional<std::string> CanonicalName(const ares_addrinfo& found) {
    if (found.name == nullptr || *found.name == '\0') {
        return std::nullopt;
    }
    std::string name = found.name;
    std::size_t steps = 0;
    for (auto* alias = found.cnames; alias != nullptr; alias = alias->next) {
        ++steps;
    }
    for (bool followed = true; followed && steps > 0; --steps) {
        followed = false;
        for (auto* alias = found.cnames; alias != nullptr; alias = alias->next) {
            if (alias->alias != nullptr && alias->name != nullptr && *alias->name != '\0' &&
                SameName(alias->alias, name)) {
                name = alias->name;
                followed = true;
                break;
            }
        }
    }
    return name;
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

void AsyncResolver::SocketState(void* interests, int fd, int readable, int writable) {
    auto& watched = *static_cast<std::vector<Interest>*>(interests);
    const auto found = std::find_if(watched.begin(), watched.end(),
                                    [fd](const Interest& interest) { return interest.fd == fd; });
    const short events =
        static_cast<short>((readable != 0 ? POLLIN : 0) | (writable != 0 ? POLLOUT : 0));
    if (events == 0) {
        if (found != watched.end()) {
            watched.erase(found);
        }
    } else if (found != watched.end()) {
        found->events = events;
    } else {
        watched.push_back(Interest{fd, events});
    }
}

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
    // DNS alone, and no HOSTALIASES: c-ares opens neither the hosts file nor the aliases file.
    static char dnsOnly[] = "b";
    options.lookups = dnsOnly;
    options.flags = ARES_FLAG_NOALIASES;
    int mask = ARES_OPT_SOCK_STATE_CB | ARES_OPT_FLAGS | ARES_OPT_LOOKUPS;
    options.sock_state_cb = [](void* data, ares_socket_t fd, int readable, int writable) {
        SocketState(data, fd, readable, writable);
    };
    options.sock_state_cb_data = &interests_[which];
    SystemTimeouts(options, mask);
    if (kind == Name::Absolute) {
        // No search list, and no domain derived from the host's own name. c-ares 1.18's address
        // lookup ignores NOSEARCH but takes an empty list of domains for none; 1.34 takes that
        // list for none given (and derives one from the host name) but honours NOSEARCH.
        options.domains = nullptr;
        options.ndomains = 0;
        options.flags |= ARES_FLAG_NOSEARCH;
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
#if ARES_VERSION >= 0x011c00
    // c-ares 1.28 answers with a parsed record; it is written back to the wire form that
    // ParseSrvAnswer checks, so both versions read answers through the same parser.
    ares_query_dnsrec(
        channel, name.c_str(), ARES_CLASS_IN, ARES_REC_TYPE_SRV,
        [](void* arg, ares_status_t status, std::size_t, const ares_dns_record_t* answer) {
            std::vector<SrvRecord> records;
            unsigned char* wire = nullptr;
            std::size_t length = 0;
            if (status == ARES_SUCCESS && answer != nullptr &&
                ares_dns_write(answer, &wire, &length) == ARES_SUCCESS) {
                records = ParseSrvAnswer(wire, length);
            }
            ares_free_string(wire);
            SrvCall::Finish(arg, status, std::move(records));
        },
        new SrvCall{this, std::move(done)}, nullptr);
#else
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
#endif
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
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = ARES_AI_CANONNAME;
    ares_getaddrinfo(
        channel, host.c_str(), nullptr, &hints,
        [](void* arg, int status, int, ares_addrinfo* found) {
            std::optional<std::string> name;
            if (status == ARES_SUCCESS && found != nullptr) {
                name = CanonicalName(*found);
            }
            ares_freeaddrinfo(found);
            NameCall::Finish(arg, status, std::move(name));
        },
        new NameCall{this, std::move(done)});
}

void AsyncResolver::Watch(std::vector<PollWatch>& watches, Clock::time_point& wake,
                          Clock::time_point now) {
    for (std::size_t which = 0; which < 2; ++which) {
        ares_channeldata* channel = channels_[which];
        if (channel == nullptr) {
            continue;
        }
        for (const Interest& interest : interests_[which]) {
            const int fd = interest.fd;
            watches.push_back(
                PollWatch{fd, interest.events, [channel, fd](short revents) {
                              const bool readable = (revents & (POLLIN | POLLERR | POLLHUP)) != 0;
                              const bool writable = (revents & POLLOUT) != 0;
                              ares_process_fd(channel, readable ? fd : ARES_SOCKET_BAD,
                                              writable ? fd : ARES_SOCKET_BAD);
                          }});
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
