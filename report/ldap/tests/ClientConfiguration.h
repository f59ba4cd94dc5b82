#pragma once

#include <ldap.h>
#include <string>
#include <sys/time.h>

namespace quindral::testing {

// Points libldap's process-wide client configuration at a server for one test, as an ldap.conf
// with URI (and, where given, NETWORK_TIMEOUT and TIMEOUT) would, and puts back what it found
// afterwards.
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
        previousNetwork_ = Timeout(LDAP_OPT_NETWORK_TIMEOUT);
        previousSearch_ = Timeout(LDAP_OPT_TIMEOUT);
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
        // libldap refuses a null timeout; a negative one means none is set.
        ldap_set_option(nullptr, LDAP_OPT_NETWORK_TIMEOUT, &previousNetwork_);
        ldap_set_option(nullptr, LDAP_OPT_TIMEOUT, &previousSearch_);
    }
    ClientConfiguration(const ClientConfiguration&) = delete;
    ClientConfiguration& operator=(const ClientConfiguration&) = delete;

private:
    static timeval Timeout(int option) {
        timeval* value = nullptr;
        timeval result{-1, 0};
        if (ldap_get_option(nullptr, option, &value) == LDAP_OPT_SUCCESS && value != nullptr) {
            result = *value;
            ldap_memfree(value);
        }
        return result;
    }

    std::string previous_;
    timeval previousNetwork_{-1, 0};
    timeval previousSearch_{-1, 0};
};

} // namespace quindral::testing
