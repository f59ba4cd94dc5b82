#pragma once

#include <memory>
#include <optional>
#include <string>

struct _krb5_context;

namespace quindral {

struct KerberosContextFreer {
    void operator()(_krb5_context* context) const;
};
using KerberosContext = std::unique_ptr<_krb5_context, KerberosContextFreer>;

// A libkrb5 context on Kerberos's configuration as libkrb5 finds it (KRB5_CONFIG, else its
// default files, with their include and includedir lines), when every file that libkrb5 would
// open for it is a regular file that ends within kLocalFileCap, and all of them within one
// ReadBudget: libkrb5 reads them with no bound of its own. This check is a fast path; what bounds
// the click is that the host's evidence is gathered off its thread. Otherwise a context on no
// configuration at all, so that KRB5_KTNAME and libkrb5's own defaults still count. Null when
// libkrb5 cannot make one.
KerberosContext MakeKerberosContext();

// The default realm that Kerberos is configured with (default_realm in [libdefaults]), read as MIT
// Kerberos reads its configuration, through a context made as above. What `realm join` writes
// there is the realm of the Active Directory domain the host is joined to. Nothing when none is
// configured, the configuration could not be read safely or there is no context; no DNS lookup is
// made to guess one.
std::optional<std::string> KerberosDefaultRealm(_krb5_context* context);

} // namespace quindral
