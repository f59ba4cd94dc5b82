#include "report/ldap/libldap/ServerCandidate.h"

#include <ldap.h>

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

} // namespace quindral
