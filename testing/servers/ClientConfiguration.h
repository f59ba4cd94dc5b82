#pragma once

#include "report/ldap/libldap/LibldapFirstUse.h"

#include <ldap.h>
#include <string>
#include <sys/time.h>

namespace quindral::testing {

// Points libldap's process-wide client configuration at a server for one test, as an ldap.conf
// with URI (and, where given, NETWORK_TIMEOUT and TIMEOUT, TLS_CACERT and TLS_REQCERT demand)
// would, and puts back what it found afterwards. libldap's first use is the program's own,
// completed before.
class ClientConfiguration {
public:
    explicit ClientConfiguration(const std::string& uriList, int networkTimeoutSeconds = 0,
                                 int searchTimeoutSeconds = 0) {
        AwaitLibldapFirstUse(Clock::now() + std::chrono::minutes(1));
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
    // Certificates are checked against this authority alone, and must pass (TLS_REQCERT demand).
    void TrustOnly(const std::string& authorityFile) {
        const int demand = LDAP_OPT_X_TLS_DEMAND;
        ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, authorityFile.c_str());
        ldap_set_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
        NewTlsContext();
        trusting_ = true;
    }

    ~ClientConfiguration() {
        if (trusting_) {
            ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, nullptr);
            NewTlsContext();
        }
        ldap_set_option(nullptr, LDAP_OPT_URI, previous_.c_str());
        // libldap refuses a null timeout; a negative one means none is set.
        ldap_set_option(nullptr, LDAP_OPT_NETWORK_TIMEOUT, &previousNetwork_);
        ldap_set_option(nullptr, LDAP_OPT_TIMEOUT, &previousSearch_);
    }
    ClientConfiguration(const ClientConfiguration&) = delete;
    ClientConfiguration& operator=(const ClientConfiguration&) = delete;

private:
    // TLS settings take effect in the context made after them.
    static void NewTlsContext() {
        const int client = 0;
        ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &client);
    }

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
    bool trusting_ = false;
    timeval previousNetwork_{-1, 0};
    timeval previousSearch_{-1, 0};
};

} // namespace quindral::testing
