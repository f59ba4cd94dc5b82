#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct ldap LDAP;
typedef struct ldapmsg LDAPMessage;

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

// Sends the one request that reads a root entry: an anonymous LDAPv3 base search of "" for all
// user and operational attributes, with no bind request before it. The message ID, or nothing
// when it could not be sent.
std::optional<int> SendRootDseSearch(LDAP* ld);

// The root entry in a complete search reply (entry and result), or nothing when the search failed
// or found no entry.
std::optional<RootDseEntry> RootDseOfReply(LDAP* ld, LDAPMessage* reply);

// Attribute names compare without regard to case, by ASCII alone, whatever the process locale.
std::string AsciiLowerCase(std::string_view text);

} // namespace quindral
