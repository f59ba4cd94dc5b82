#pragma once

#include <optional>
#include <string>

namespace quindral {

// The default realm that Kerberos is configured with (default_realm in [libdefaults]), read as MIT
// Kerberos reads its configuration: KRB5_CONFIG, else /etc/krb5.conf, with their includes. What
// `realm join` writes there is the realm of the Active Directory domain the host is joined to.
// Nothing when none is configured; no DNS lookup is made to guess one.
std::optional<std::string> KerberosDefaultRealm();

} // namespace quindral
