#include "report/ldap/host/HostName.h"

#include "report/ldap/host/LocalFile.h"
#include "report/ldap/plumbing/AsyncResolver.h"
#include "report/ldap/plumbing/Text.h"

#include <climits>
#include <cstdlib>
#include <resolv.h>
#include <sstream>
#include <unistd.h>

namespace quindral {

std::optional<std::string> DomainPart(const std::string& hostName) {
    const auto dot = hostName.find('.');
    if (dot == std::string::npos || dot + 1 >= hostName.size()) {
        return std::nullopt;
    }
    std::string domain = hostName.substr(dot + 1);
    if (domain.back() == '.') {
        domain.pop_back();
    }
    return domain.empty() ? std::nullopt : std::optional(domain);
}

std::string AliasedName(const std::string& name) {
    const char* file = std::getenv("HOSTALIASES");
    if (file == nullptr || name.empty() || name.find('.') != std::string::npos) {
        return name;
    }
    const LocalFile aliases = ReadLocalFile(file);
    if (aliases.state != LocalFile::State::Whole) {
        return name;
    }
    std::istringstream lines(aliases.bytes);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string alias;
        std::string target;
        if (words >> alias >> target && SameName(alias, name)) {
            return target;
        }
    }
    return name;
}

std::optional<std::string> HostNameDomain(Clock::time_point deadline) {
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return std::nullopt;
    }
    std::string name(host);
    if (name.find('.') == std::string::npos) {
        AsyncResolver resolver;
        bool answered = false;
        resolver.LookupCanonicalName(AliasedName(name), [&](std::optional<std::string> canonical) {
            answered = true;
            if (canonical) {
                name = std::move(*canonical);
            }
        });
        RunPollLoop(resolver, deadline, [&] { return answered || !resolver.Busy(); });
    }
    return DomainPart(name);
}

std::vector<std::string> ResolverSearchList() {
    std::vector<std::string> list;
    struct __res_state state {};
    if (res_ninit(&state) == 0) {
        for (const char* entry : state.dnsrch) {
            if (entry == nullptr) {
                break;
            }
            list.emplace_back(entry);
        }
        if (list.empty() && state.defdname[0] != '\0') {
            list.emplace_back(state.defdname);
        }
    }
    res_nclose(&state);
    return list;
}

} // namespace quindral
