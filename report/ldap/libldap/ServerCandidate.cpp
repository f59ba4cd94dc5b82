#include "report/ldap/libldap/ServerCandidate.h"

#include <ldap.h>

namespace quindral {

namespace {

// Where libldap on Debian finds slapd's local socket when an ldapi:// URI names none.
constexpr const char* kDefaultLocalSocket = "/var/run/slapd/ldapi";

} // namespace

std::optional<UriParts> ParseUri(const std::string& uri) {
    LDAPURLDesc* url = nullptr;
    if (ldap_url_parse(uri.c_str(), &url) != LDAP_URL_SUCCESS || url == nullptr) {
        return std::nullopt;
    }
    UriParts parts{url->lud_scheme != nullptr ? url->lud_scheme : "ldap",
                   url->lud_host != nullptr ? url->lud_host : "", url->lud_port};
    ldap_free_urldesc(url);
    if (parts.host.empty() && parts.scheme != "ldapi") {
        parts.host = "localhost";
    }
    return parts;
}

std::string UriOf(const std::string& scheme, const std::string& host, int port) {
    const bool literal = host.find(':') != std::string::npos;
    std::string uri = scheme + "://" + (literal ? "[" + host + "]" : host);
    if (port > 0) {
        uri += ":" + std::to_string(port);
    }
    return uri;
}

std::optional<ServerCandidate> CandidateOfUri(const std::string& uri) {
    const auto parts = ParseUri(uri);
    if (!parts) {
        return std::nullopt;
    }
    ServerCandidate candidate;
    candidate.uri = uri;
    if (parts->scheme == "ldapi") {
        candidate.local = true;
        candidate.host = parts->host.empty() ? kDefaultLocalSocket : parts->host;
        return candidate;
    }
    if (parts->scheme != "ldap" && parts->scheme != "ldaps") {
        return std::nullopt;
    }
    candidate.tls = parts->scheme == "ldaps";
    candidate.host = parts->host;
    const int port = parts->port;
    candidate.port = static_cast<std::uint16_t>(port > 0 && port < 65536 ? port
                                                : candidate.tls          ? 636
                                                                         : 389);
    return candidate;
}

std::vector<ServerCandidate> CandidatesOfRecords(const std::vector<SrvRecord>& records) {
    std::vector<ServerCandidate> servers;
    for (const auto& record : records) {
        ServerCandidate server;
        server.uri = UriOf("ldap", record.target, record.port);
        server.host = record.target;
        server.port = record.port;
        server.absolute = true;
        servers.push_back(std::move(server));
    }
    return servers;
}

} // namespace quindral
