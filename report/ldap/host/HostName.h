#pragma once

#include "report/ldap/plumbing/Clock.h"

#include <optional>
#include <string>
#include <vector>

namespace quindral {

// The domain of this host's own name: the domain part of its fully qualified name, a bare name
// looked up first (the hosts file, then DNS) until the deadline at most.
std::optional<std::string> HostNameDomain(Clock::time_point deadline);

// The name that the system's resolver looks up for this one: for a name without a dot, the name
// that the file HOSTALIASES names gives it (lines of an alias and the name it stands for, the
// alias without regard to case), as glibc and c-ares read it; any other name as it stands. The
// file is read here, without waiting and up to kLocalFileCap, so that a FIFO or an endless file
// there gives no alias rather than holding the lookup; the resolver itself is told to read none.
std::string AliasedName(const std::string& name);

// The sources of host names that this program can ask, in the order the `hosts:` line of
// nsswitch.conf gives them and as far as glibc goes down it: 'f' for the hosts file, 'b' for DNS
// (c-ares' letters). glibc stops after a source whose action for NOTFOUND is return
// (`files [NOTFOUND=return] dns` asks the hosts file alone); other sources (sss, mdns, ...) are
// passed over, as this program cannot ask them without blocking; empty when neither source is
// asked. The file as glibc reads it from the path given; without it or its `hosts:` line, glibc's
// own default, `dns [!UNAVAIL=return] files`.
std::string HostsLookupOrder(const std::string& nsswitchConf = "/etc/nsswitch.conf");

// The resolver's search list, as resolv.conf (or LOCALDOMAIN) sets it; its domain when it has none.
std::vector<std::string> ResolverSearchList();

} // namespace quindral
