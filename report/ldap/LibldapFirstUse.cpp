#include "LibldapFirstUse.h"

#include <ldap.h>
#include <mutex>
#include <optional>
#include <resolv.h>
#include <utility>

namespace quindral {

// libldap's first use in a process reads its configuration and looks up this host's own name
// through the system resolver, which with a resolver that never answers waits resolv.conf's
// timeout times its attempts for every name of the search list; that lookup cannot be made to
// wait on anything else. For that first use the thread's resolver asks each name once and waits
// one second for it; its own settings are put back afterwards.
void InitialiseLibldap() {
    static std::once_flag initialised;
    std::call_once(initialised, [] {
        std::optional<std::pair<int, int>> saved;
        if (res_init() == 0) {
            saved = {_res.retrans, _res.retry};
            _res.retrans = 1;
            _res.retry = 1;
        }
        int version = 0;
        ldap_get_option(nullptr, LDAP_OPT_PROTOCOL_VERSION, &version);
        if (saved) {
            _res.retrans = saved->first;
            _res.retry = saved->second;
        }
    });
}

} // namespace quindral
