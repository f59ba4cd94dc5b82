#include "report/ldap/activedirectory/KerberosRealm.h"

#include <krb5.h>
#include <profile.h>

namespace quindral {

std::optional<std::string> KerberosDefaultRealm() {
    krb5_context context = nullptr;
    if (krb5_init_context(&context) != 0) {
        return std::nullopt;
    }
    std::optional<std::string> realm;
    profile_t profile = nullptr;
    if (krb5_get_profile(context, &profile) == 0) {
        char* value = nullptr;
        if (profile_get_string(profile, "libdefaults", "default_realm", nullptr, nullptr, &value) ==
                0 &&
            value != nullptr) {
            realm = value;
        }
        profile_release_string(value);
        profile_release(profile);
    }
    krb5_free_context(context);
    return realm;
}

} // namespace quindral
