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

// The root entry that a search entry message holds.
RootDseEntry RootDseOfEntry(LDAP* ld, LDAPMessage* entry);

// Whether a search's result message says that the search succeeded.
bool SearchSucceeded(LDAP* ld, LDAPMessage* result);

} // namespace quindral
