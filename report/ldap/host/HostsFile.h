#pragma once

#include "report/ldap/plumbing/AsyncResolver.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unordered_map>
#include <vector>

namespace quindral {

// The hosts file as glibc's files source reads it: lines of an address and the names it has, the
// first the canonical one, "#" starting a comment; names compare without regard to case. Read
// once, without waiting, when it is a regular file of kHostsFileCap at the most; anything else (a
// FIFO, a device, an endless or a huge file) gives no name, so that no lookup is held or repeated
// on it.
class HostsFile {
public:
    explicit HostsFile(const std::string& path = "/etc/hosts");

    // The addresses of the family (AF_INET or AF_INET6) that the file gives the name, with the
    // port, in the file's order.
    std::vector<sockaddr_storage> Addresses(const std::string& name, std::uint16_t port,
                                            int family) const;
    // The canonical name of the first line that names the host.
    std::optional<std::string> CanonicalName(const std::string& name) const;

    static constexpr std::size_t kHostsFileCap = std::size_t{16} << 20;

private:
    struct Line {
        std::string address;
        std::string canonical;
    };
    std::vector<Line> lines_;
    std::unordered_map<std::string, std::vector<std::size_t>> linesOfName_; // names in lower case
};

// Host names looked up in the sources the system asks, in the order HostsLookupOrder gives: the
// hosts file (read once, see HostsFile) and DNS (the resolver given, which reads no hosts
// file of its own). A numeric address needs no source. Answers come through the callbacks, as
// the resolver's do, on its loop's thread.
class SystemNames {
public:
    SystemNames(AsyncResolver& dns, std::string order);

    void LookupAddresses(const std::string& host, std::uint16_t port, int family,
                         AsyncResolver::Name kind,
                         std::function<void(std::vector<sockaddr_storage>)> done);
    void LookupCanonicalName(const std::string& host,
                             std::function<void(std::optional<std::string>)> done);

private:
    const HostsFile& Hosts();
    void AddressesFrom(std::size_t source, std::string host, std::uint16_t port, int family,
                       AsyncResolver::Name kind,
                       std::function<void(std::vector<sockaddr_storage>)> done);
    void CanonicalNameFrom(std::size_t source, std::string host,
                           std::function<void(std::optional<std::string>)> done);

    AsyncResolver& dns_;
    std::string order_;
    std::optional<HostsFile> hosts_;
};

} // namespace quindral
