#include "report/ldap/libldap/RootDseSearch.h"

#include "report/ldap/plumbing/Text.h"

#include <ldap.h>
#include <memory>

namespace quindral {

namespace {

struct BerFreer {
    void operator()(BerElement* ber) const { ber_free(ber, 0); }
};
struct ValuesFreer {
    void operator()(berval** values) const { ldap_value_free_len(values); }
};
struct MemFreer {
    void operator()(char* text) const { ldap_memfree(text); }
};

} // namespace

const RootDseEntry::Attribute* RootDseEntry::Find(std::string_view name) const {
    auto found = attributes.find(AsciiLowerCase(name));
    return found == attributes.end() ? nullptr : &found->second;
}

std::optional<int> SendRootDseSearch(LDAP* ld) {
    char allUserAttributes[] = "*";
    char allOperationalAttributes[] = "+";
    char* attributes[] = {allUserAttributes, allOperationalAttributes, nullptr};
    int messageId = -1;
    if (ldap_search_ext(ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0, nullptr, nullptr,
                        nullptr, 0, &messageId) != LDAP_SUCCESS) {
        return std::nullopt;
    }
    return messageId;
}

bool SearchSucceeded(LDAP* ld, LDAPMessage* result) {
    int code = LDAP_OTHER;
    return ldap_parse_result(ld, result, &code, nullptr, nullptr, nullptr, nullptr, 0) ==
               LDAP_SUCCESS &&
           code == LDAP_SUCCESS;
}

RootDseEntry RootDseOfEntry(LDAP* ld, LDAPMessage* entry) {
    RootDseEntry result;
    BerElement* rawBer = nullptr;
    std::unique_ptr<char, MemFreer> name(ldap_first_attribute(ld, entry, &rawBer));
    const std::unique_ptr<BerElement, BerFreer> ber(rawBer);
    for (; name != nullptr; name.reset(ldap_next_attribute(ld, entry, ber.get()))) {
        const std::unique_ptr<berval*, ValuesFreer> values(
            ldap_get_values_len(ld, entry, name.get()));
        if (values == nullptr || values.get()[0] == nullptr) {
            continue;
        }
        RootDseEntry::Attribute attribute;
        attribute.name = ValidUtf8(name.get());
        for (berval** value = values.get(); *value != nullptr; ++value) {
            attribute.values.push_back(
                ValidUtf8(std::string_view((*value)->bv_val, (*value)->bv_len)));
        }
        // A name sent twice, in two spellings, keeps its first values.
        result.attributes.emplace(AsciiLowerCase(attribute.name), std::move(attribute));
    }
    return result;
}

} // namespace quindral
