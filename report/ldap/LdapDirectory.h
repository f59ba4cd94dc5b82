#pragma once

#include "report/Directory.h"

namespace quindral {

// The directory service on systems without ADSI, over OpenLDAP's libldap. "LDAP://rootDSE" and
// "GC://rootDSE" are bound by finding a server the way a directory client does (the OpenLDAP
// client configuration, then DNS SRV records) and reading its root entry with one search; every
// Get is answered from that one reply. Any other path is a failed bind.
//
// A server may close its connection while a request is being written: the program must ignore
// SIGPIPE (its main does) so that the write fails rather than ending the process.
class LdapDirectory final : public Directory {
public:
    // Starts libldap's first use, off this thread, so that it is usually over by the first click.
    LdapDirectory();
    std::shared_ptr<DirectoryObject> Bind(std::string_view path) override;
};

} // namespace quindral
