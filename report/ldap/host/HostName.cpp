#include "report/ldap/host/HostName.h"

#include "report/ldap/host/HostsFile.h"
#include "report/ldap/host/LocalFile.h"
#include "report/ldap/plumbing/AsyncResolver.h"
#include "report/ldap/plumbing/Text.h"

#include <climits>
#include <cstdlib>
#include <resolv.h>
#include <sstream>
#include <unistd.h>

namespace quindral {

namespace {

// The DNS domain of a host name: what follows its first dot, without a trailing dot. Nothing for a
// name with no domain part.
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

} // namespace

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

namespace {

// The letters of the sources a `hosts:` line's services lead to, as glibc walks them.
std::string LookupOrderOf(const std::string& services) {
    std::string order;
    std::istringstream words(services);
    std::string source;
    for (std::string word; words >> word;) {
        if (!word.starts_with('[')) {
            source = AsciiLowerCase(word);
            if (source == "files" || source == "dns") {
                order += source == "files" ? 'f' : 'b';
            }
            continue;
        }
        // An action list, perhaps spread over several words: [STATUS=ACTION ...], with !STATUS
        // meaning every status but that one.
        std::string actions = word;
        while (actions.find(']') == std::string::npos && words >> word) {
            actions += " " + word;
        }
        bool notFoundReturns = false;
        for (const std::string& item : SplitList(actions.substr(1, actions.find(']') - 1), " ")) {
            const auto equals = item.find('=');
            if (equals == std::string::npos) {
                continue;
            }
            const bool negated = item.starts_with('!');
            const std::string status =
                AsciiLowerCase(item.substr(negated ? 1 : 0, equals - (negated ? 1 : 0)));
            const bool returns = AsciiLowerCase(item.substr(equals + 1)) == "return";
            if ((status == "notfound") != negated) {
                notFoundReturns = returns;
            }
        }
        const bool asked = source == "files" || source == "dns";
        if (asked && notFoundReturns) {
            break;
        }
    }
    return order;
}

} // namespace

std::string HostsLookupOrder(const std::string& nsswitchConf) {
    const LocalFile file = ReadLocalFile(nsswitchConf);
    std::istringstream lines(file.state == LocalFile::State::Whole ? file.bytes : std::string());
    for (std::string line; std::getline(lines, line);) {
        line = line.substr(0, line.find('#'));
        const std::string trimmed = Trimmed(line);
        if (AsciiLowerCase(trimmed).starts_with("hosts:")) {
            return LookupOrderOf(trimmed.substr(6));
        }
    }
    return LookupOrderOf("dns [!UNAVAIL=return] files");
}

std::optional<std::string> HostNameDomain(Clock::time_point deadline) {
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return std::nullopt;
    }
    std::string name(host);
    if (name.find('.') == std::string::npos) {
        AsyncResolver resolver;
        SystemNames names(resolver, HostsLookupOrder());
        bool answered = false;
        names.LookupCanonicalName(AliasedName(name), [&](std::optional<std::string> canonical) {
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
