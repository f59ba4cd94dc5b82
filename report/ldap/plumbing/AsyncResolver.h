#pragma once

#include "report/ldap/plumbing/DnsSrv.h"
#include "report/ldap/plumbing/PollLoop.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

struct ares_channeldata;

namespace quindral {

// A DNS resolver that never blocks: queries are started, a poll loop waits on the resolver's
// sockets (with the caller's own), and answers arrive through callbacks on the loop's thread. It
// asks DNS alone, as resolv.conf configures it (nameservers, search list, options): the hosts
// file, nsswitch.conf's order and HOSTALIASES are read by the program without waiting (see
// host/HostsFile.h and host/HostName.h), never by c-ares, which would block or spin on a FIFO or
// an endless file there. Once its destructor has begun no callback runs any more, whatever c-ares
// reports for the queries it cancels; no thread or socket outlives it.
class AsyncResolver final : public PollParty {
public:
    AsyncResolver();
    ~AsyncResolver();
    AsyncResolver(const AsyncResolver&) = delete;
    AsyncResolver& operator=(const AsyncResolver&) = delete;

    // The SRV records of a fully qualified name; none on any failure.
    void QuerySrv(const std::string& name, std::function<void(std::vector<SrvRecord>)> done);

    // How a host name is looked up: as the system's resolver does (the search list applies to a
    // relative name), or as the absolute name that an SRV record's target is, never under the
    // search list.
    enum class Name { AsConfigured, Absolute };

    // The addresses of one family (AF_INET or AF_INET6) of a host, in the order to try them; none
    // on any failure.
    void LookupAddresses(const std::string& host, std::uint16_t port, int family, Name kind,
                         std::function<void(std::vector<sockaddr_storage>)> done);

    // The host's fully qualified name as DNS gives it; nothing on any failure.
    void LookupCanonicalName(const std::string& host,
                             std::function<void(std::optional<std::string>)> done);

    // Whether any query is still unanswered.
    bool Busy() const { return pending_ > 0; }

    // The resolver's sockets, each read or written as soon as poll finds it ready, and the time of
    // its next timeout.
    void Watch(std::vector<PollWatch>& watches, Clock::time_point& wake,
               Clock::time_point now) override;
    // Handles the resolver's own timeouts.
    void Turn(Clock::time_point now) override;

private:
    template <typename Result> struct Call;

    // A socket that c-ares wants watched, and for what.
    struct Interest {
        int fd;
        short events;
    };
    // Where c-ares says which of a channel's sockets to watch (its socket-state callback).
    static void SocketState(void* interests, int fd, int readable, int writable);

    // The channel for names of that kind, made at its first use; null when c-ares cannot make one.
    ares_channeldata* Channel(Name kind);

    // A channel as the system configures it, and one without a search list, made when first
    // needed; an absolute name is handed to the second without its final dot.
    ares_channeldata* channels_[2] = {nullptr, nullptr};
    bool made_[2] = {false, false};
    std::vector<Interest> interests_[2];
    int pending_ = 0;
    bool closing_ = false;
};

} // namespace quindral
