#pragma once

#include "DnsSrv.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <vector>

struct ares_channeldata;

namespace quindral {

// A DNS resolver that never blocks: queries are started, the caller polls the resolver's sockets
// together with its own and hands the ready ones back, and answers arrive through callbacks on the
// caller's thread. It reads the system's resolver configuration (resolv.conf's nameservers, search
// list and options, the hosts file for names). Whatever is still unanswered when it goes is
// dropped, its callbacks never called; no thread or socket outlives it.
class AsyncResolver {
public:
    AsyncResolver();
    ~AsyncResolver();
    AsyncResolver(const AsyncResolver&) = delete;
    AsyncResolver& operator=(const AsyncResolver&) = delete;

    bool ok() const { return channel_ != nullptr; }

    // The SRV records of a fully qualified name; none on any failure.
    void QuerySrv(const std::string& name, std::function<void(std::vector<SrvRecord>)> done);

    // The addresses of a host (a name or a numeric address) in the order to try them; none on any
    // failure.
    void LookupAddresses(const std::string& host, std::uint16_t port,
                         std::function<void(std::vector<sockaddr_storage>)> done);

    // The host's fully qualified name as the hosts file or DNS give it; nothing on any failure.
    void LookupCanonicalName(const std::string& host,
                             std::function<void(std::optional<std::string>)> done);

    // Appends the resolver's sockets, with the events it waits for, to fds.
    void AddPollFds(std::vector<pollfd>& fds) const;
    // Reads and writes what the poll found ready among fds[from...], and handles the resolver's
    // own timeouts.
    void Process(const std::vector<pollfd>& fds, std::size_t from);
    // How long until the resolver next needs Process for a timeout; nothing when it waits for none.
    std::optional<std::chrono::milliseconds> NextTimeout() const;
    // Whether any query is still unanswered.
    bool Busy() const { return pending_ > 0; }

private:
    template <typename Result> struct Call;

    ares_channeldata* channel_ = nullptr;
    int pending_ = 0;
};

} // namespace quindral
