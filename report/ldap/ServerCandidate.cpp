#include "ServerCandidate.h"

#include <cstring>
#include <ldap.h>
#include <netdb.h>

namespace quindral {

namespace {

// Where libldap on Debian finds slapd's local socket when an ldapi:// URI names none.
constexpr const char* kDefaultLocalSocket = "/var/run/slapd/ldapi";

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

std::vector<ServerCandidate> CandidatesOfRecords(const std::vector<SrvRecord>& records) {
    std::vector<ServerCandidate> servers;
    for (const auto& record : records) {
        ServerCandidate server;
        const bool literal = record.target.find(':') != std::string::npos;
        server.uri = "ldap://" + (literal ? "[" + record.target + "]" : record.target) + ":" +
                     std::to_string(record.port);
        server.host = record.target;
        server.port = record.port;
        servers.push_back(std::move(server));
    }
    return servers;
}

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

} // namespace quindral
