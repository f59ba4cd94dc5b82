#pragma once

#include "report/ldap/activedirectory/Provider.h"
#include "report/ldap/libldap/ServerCandidate.h"
#include "report/ldap/plumbing/AsyncResolver.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quindral {

// Finding directory servers through DNS, as an Active Directory client does.

// Asks the SRV names at once and settles on the first, in order of preference, that has records,
// as soon as every better name has answered with none: settled(index, records) is called once,
// with the records in the order to try them, or with names.size() and none when no name has any.
// Nothing is called when the resolver goes first. The query it returns tells when a better name
// still unanswered is no longer worth waiting for (kStagger after a worse one had
// records), and GiveUp then settles on the best name that has answered with records.
class PreferredSrvQuery {
public:
    virtual ~PreferredSrvQuery() = default;
    virtual std::optional<Clock::time_point> GiveUpAt() const = 0;
    virtual void GiveUp() = 0;
};
std::shared_ptr<PreferredSrvQuery>
QueryPreferredSrv(AsyncResolver& resolver, const std::vector<std::string>& names,
                  std::function<void(std::size_t, std::vector<SrvRecord>)> settled);

// The servers that the first of the names with any SRV records lists, in the order to try them,
// and which name that was; nothing when none has any by the deadline. A better name that does not
// answer is waited for kStagger once a worse one has records.
struct SrvServers {
    std::size_t nameIndex = 0; // in the names asked
    std::vector<ServerCandidate> servers;
};
std::optional<SrvServers> ServersFromSrv(const std::vector<std::string>& names,
                                         Clock::time_point deadline);

} // namespace quindral
