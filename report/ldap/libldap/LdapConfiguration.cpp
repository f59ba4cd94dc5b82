#include "report/ldap/libldap/LdapConfiguration.h"

#include "report/ldap/host/LocalFile.h"
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
        const std::string_view raw(text.data() + at, end - at);
        at = end + 1;
        if (raw.starts_with('#')) {
            continue;
        }
        const std::string line = Trimmed(raw);
        const auto gap = std::find_if(line.begin(), line.end(),
                                      [](unsigned char c) { return std::isspace(c) != 0; });
        if (gap == line.end()) {
            continue;
        }
        const std::string keyword =
            AsciiLowerCase(std::string_view(line).substr(0, gap - line.begin()));
        const std::string value = Trimmed(std::string_view(line).substr(gap - line.begin()));
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

ServerTimeouts EffectiveTimeouts() {
    return ServerTimeouts{
        ConfiguredTimeout(LDAP_OPT_NETWORK_TIMEOUT).value_or(kDefaultTimeouts.connect),
        ConfiguredTimeout(LDAP_OPT_TIMEOUT).value_or(kDefaultTimeouts.search),
    };
}

} // namespace quindral
