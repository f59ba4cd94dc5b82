#pragma once

#include "ServerLocator.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quindral {

// The root entry as one server returned it: each attribute's name as sent and its values as UTF-8
// text, keyed by the name in lower case (LDAP attribute names match without regard to case).
struct RootDseEntry {
    struct Attribute {
        std::string name;
        std::vector<std::string> values;
    };
    std::map<std::string, Attribute> attributes;

    const Attribute* Find(std::string_view name) const;
};

// Connects to the server at uri and reads its root entry with one anonymous LDAPv3 base search of
// "" for all user and operational attributes; no bind request is sent. Nothing when the server
// cannot be reached in time, the search fails or returns no entry.
std::optional<RootDseEntry> ReadRootDse(const std::string& uri, const ServerTimeouts& timeouts);

} // namespace quindral
