#include "report/ldap/plumbing/SocketAddress.h"

#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/un.h>

namespace quindral {

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

std::optional<sockaddr_storage> LocalSocketAddress(const std::string& path) {
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    if (path.size() >= sizeof local.sun_path) {
        return std::nullopt;
    }
    std::memcpy(local.sun_path, path.data(), path.size());
    sockaddr_storage address{};
    std::memcpy(&address, &local, sizeof local);
    return address;
}

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

bool SameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) {
        return false;
    }
    switch (a.ss_family) {
    case AF_INET: {
        const auto& x = reinterpret_cast<const sockaddr_in&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in&>(b);
        return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
    }
    case AF_INET6: {
        const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
        return x.sin6_port == y.sin6_port && x.sin6_scope_id == y.sin6_scope_id &&
               std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
    }
    case AF_UNIX:
        return std::strncmp(reinterpret_cast<const sockaddr_un&>(a).sun_path,
                            reinterpret_cast<const sockaddr_un&>(b).sun_path,
                            sizeof(sockaddr_un::sun_path)) == 0;
    default:
        return false;
    }
}

} // namespace quindral
