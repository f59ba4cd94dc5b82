#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quindral {

// The rule that orders what the host reports (see host/): the DNS domains in which this client
// looks for its directory servers, best first. The domains that a join left (sssd's, Samba's, the
// host keytab's, see JoinedDomains); the domain of the host's own name; then each entry of the
// resolver's search list; then the Kerberos default realm, in lower case (an AD domain's realm is
// its DNS name in capitals), last, since it is the weakest sign of a join (a leave does not remove
// it, and packaged template files carry one); a realm that is not a DNS name of letters, digits,
// hyphens and dots, or that a template file carries, is passed over. Each domain once, whatever its
// case or trailing dot.
std::vector<std::string> DomainsToSearch(const std::vector<std::string>& joined,
                                         const std::optional<std::string>& realm,
                                         const std::optional<std::string>& hostDomain,
                                         const std::vector<std::string>& searchList);

// Whether a realm is one that packaged template krb5.conf files carry (Debian's ATHENA.MIT.EDU,
// EXAMPLE.COM and the like): left there by an installer, never a domain that was joined.
bool IsTemplateRealm(const std::string& realm);

} // namespace quindral
