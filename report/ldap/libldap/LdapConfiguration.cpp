#include "report/ldap/libldap/LdapConfiguration.h"

#include "report/ldap/libldap/ServerCandidate.h"
#include "report/ldap/plumbing/RegularFile.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ldap.h>
#include <string_view>
#include <unistd.h>

namespace quindral {

namespace {

// What libldap reports as its default URI when no configuration names one.
constexpr std::string_view kBuiltInDefaultUri = "ldap://localhost:389/??base";

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

// A timeout's value as libldap takes it: whole seconds, above zero, and nothing else.
std::optional<std::chrono::microseconds> TimeoutValue(std::string_view text) {
    std::uint64_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || seconds == 0 ||
        seconds > 1000000) {
        return std::nullopt;
    }
    return std::chrono::seconds(seconds);
}

// Reads NETWORK_TIMEOUT and TIMEOUT from an ldap.conf-style file into the timeouts, as libldap
// reads its lines: a keyword (in any case), white space, the value; "#" lines are comments.
void ReadTimeouts(const std::string& path, ServerTimeouts& timeouts) {
    const std::string text = RegularFileText(path);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        if (line.starts_with('#')) {
            continue;
        }
        const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
        while (!line.empty() && space(line.front())) {
            line.remove_prefix(1);
        }
        while (!line.empty() && space(line.back())) {
            line.remove_suffix(1);
        }
        const auto gap = std::find_if(line.begin(), line.end(), space);
        if (gap == line.end()) {
            continue;
        }
        const std::string keyword = AsciiLowerCase(line.substr(0, gap - line.begin()));
        std::string_view value = line.substr(gap - line.begin());
        while (!value.empty() && space(value.front())) {
            value.remove_prefix(1);
        }
        const auto timeout = TimeoutValue(value);
        if (timeout && keyword == "network_timeout") {
            timeouts.connect = *timeout;
        } else if (timeout && keyword == "timeout") {
            timeouts.search = *timeout;
        }
    }
}

void ReadUserTimeouts(const char* file, const std::function<const char*(const char*)>& environment,
                      ServerTimeouts& timeouts) {
    if (const char* home = environment("HOME")) {
        ReadTimeouts(std::string(home) + "/" + file, timeouts);
        ReadTimeouts(std::string(home) + "/." + file, timeouts);
    }
    ReadTimeouts(file, timeouts);
}

} // namespace

ServerTimeouts TimeoutsBeforeFirstUse(const std::function<const char*(const char*)>& environment,
                                      const std::string& systemFile) {
    ServerTimeouts timeouts = kDefaultTimeouts;
    if (environment("LDAPNOINIT") != nullptr) {
        return timeouts;
    }
    ReadTimeouts(systemFile, timeouts);
    if (::geteuid() != ::getuid()) {
        return timeouts;
    }
    ReadUserTimeouts("ldaprc", environment, timeouts);
    if (const char* file = environment("LDAPCONF")) {
        ReadTimeouts(file, timeouts);
    }
    if (const char* file = environment("LDAPRC")) {
        ReadUserTimeouts(file, environment, timeouts);
    }
    for (const auto& [name, timeout] : {std::pair{"LDAPNETWORK_TIMEOUT", &timeouts.connect},
                                        std::pair{"LDAPTIMEOUT", &timeouts.search}}) {
        if (const char* value = environment(name)) {
            if (const auto parsed = TimeoutValue(value)) {
                *timeout = *parsed;
            }
        }
    }
    return timeouts;
}

std::optional<std::string> ConfiguredUriList() {
    char* uri = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_URI, &uri) != LDAP_OPT_SUCCESS || uri == nullptr) {
        return std::nullopt;
    }
    std::string list(uri);
    ldap_memfree(uri);
    if (list.empty() || list == kBuiltInDefaultUri) {
        return std::nullopt;
    }
    return list;
}

std::vector<std::string> UrisForProvider(const std::string& uriList, Provider provider) {
    std::vector<std::string> uris;
    std::size_t at = 0;
    while (at < uriList.size()) {
        const std::size_t start = uriList.find_first_not_of(" \t,", at);
        if (start == std::string::npos) {
            break;
        }
        const std::size_t end = std::min(uriList.find_first_of(" \t,", start), uriList.size());
        const std::string one = uriList.substr(start, end - start);
        at = end;

        const auto parts = ParseUri(one);
        if (!parts) {
            continue;
        }
        if (provider == Provider::Ldap) {
            uris.push_back(one);
        } else if (parts->scheme == "ldap" || parts->scheme == "ldaps") {
            uris.push_back(
                UriOf(parts->scheme, parts->host, parts->scheme == "ldaps" ? 3269 : 3268));
        }
    }
    return uris;
}

ServerTimeouts EffectiveTimeouts() {
    return ServerTimeouts{
        ConfiguredTimeout(LDAP_OPT_NETWORK_TIMEOUT).value_or(kDefaultTimeouts.connect),
        ConfiguredTimeout(LDAP_OPT_TIMEOUT).value_or(kDefaultTimeouts.search),
    };
}

} // namespace quindral
