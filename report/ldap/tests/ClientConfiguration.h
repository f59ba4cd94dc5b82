#pragma once

#include <ldap.h>
#include <string>
#include <sys/time.h>

namespace quindral::testing {

// Points libldap's process-wide client configuration at a server for one test, as an ldap.conf
// with URI (and, where given, NETWORK_TIMEOUT and TIMEOUT) would, and puts back the URI it
// found (and unsets the timeouts) afterwards.
class ClientConfiguration {
public:
    explicit ClientConfiguration(const std::string& uriList, int networkTimeoutSeconds = 0,
                                 int searchTimeoutSeconds = 0) {
        char* previous = nullptr;
        if (ldap_get_option(nullptr, LDAP_OPT_URI, &previous) == LDAP_OPT_SUCCESS &&
            previous != nullptr) {
            previous_ = previous;
            ldap_memfree(previous);
        }
        ldap_set_option(nullptr, LDAP_OPT_URI, uriList.c_str());
        if (networkTimeoutSeconds > 0) {
            const timeval network{networkTimeoutSeconds, 0};
            ldap_set_option(nullptr, LDAP_OPT_NETWORK_TIMEOUT, &network);
        }
        if (searchTimeoutSeconds > 0) {
            const timeval search{searchTimeoutSeconds, 0};
            ldap_set_option(nullptr, LDAP_OPT_TIMEOUT, &search);
        }
    }
    ~ClientConfiguration() {
        ldap_set_option(nullptr, LDAP_OPT_URI, previous_.c_str());
        ldap_set_option(nullptr, LDAP_OPT_NETWORK_TIMEOUT, nullptr);
        ldap_set_option(nullptr, LDAP_OPT_TIMEOUT, nullptr);
    }
    ClientConfiguration(const ClientConfiguration&) = delete;
    ClientConfiguration& operator=(const ClientConfiguration&) = delete;

private:
    std::string previous_;
};

} // namespace quindral::testing
