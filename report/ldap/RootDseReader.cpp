#include "RootDseReader.h"

#include "Utf8Text.h"

#include <algorithm>
#include <cctype>
#include <ldap.h>
#include <memory>
#include <sys/time.h>

namespace quindral {

namespace {

std::string LowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

timeval ToTimeval(std::chrono::microseconds duration) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(duration.count() / 1000000);
    value.tv_usec = static_cast<suseconds_t>(duration.count() % 1000000);
    return value;
}

struct LdapCloser {
    void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
struct MessageFreer {
    void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
struct BerFreer {
    void operator()(BerElement* ber) const { ber_free(ber, 0); }
};
struct ValuesFreer {
    void operator()(berval** values) const { ldap_value_free_len(values); }
};
struct MemFreer {
    void operator()(char* text) const { ldap_memfree(text); }
};

RootDseEntry EntryOf(LDAP* ld, LDAPMessage* entry) {
    RootDseEntry result;
    BerElement* rawBer = nullptr;
    for (std::unique_ptr<char, MemFreer> name(ldap_first_attribute(ld, entry, &rawBer));
         name != nullptr; name.reset(ldap_next_attribute(ld, entry, rawBer))) {
        std::unique_ptr<berval*, ValuesFreer> values(ldap_get_values_len(ld, entry, name.get()));
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
        result.attributes.emplace(LowerCase(attribute.name), std::move(attribute));
    }
    std::unique_ptr<BerElement, BerFreer> ber(rawBer);
    return result;
}

} // namespace

const RootDseEntry::Attribute* RootDseEntry::Find(std::string_view name) const {
    auto found = attributes.find(LowerCase(name));
    return found == attributes.end() ? nullptr : &found->second;
}

std::optional<RootDseEntry> ReadRootDse(const std::string& uri, const ServerTimeouts& timeouts) {
    LDAP* raw = nullptr;
    if (ldap_initialize(&raw, uri.c_str()) != LDAP_SUCCESS || raw == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<LDAP, LdapCloser> ld(raw);

    int version = LDAP_VERSION3;
    const timeval connectTimeout = ToTimeval(timeouts.connect);
    if (ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
        ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF) != LDAP_OPT_SUCCESS ||
        ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &connectTimeout) != LDAP_OPT_SUCCESS) {
        return std::nullopt;
    }

    char allUserAttributes[] = "*";
    char allOperationalAttributes[] = "+";
    char* attributes[] = {allUserAttributes, allOperationalAttributes, nullptr};
    timeval searchTimeout = ToTimeval(timeouts.search);
    LDAPMessage* rawResult = nullptr;
    const int rc = ldap_search_ext_s(ld.get(), "", LDAP_SCOPE_BASE, "(objectClass=*)", attributes,
                                     0, nullptr, nullptr, &searchTimeout, 0, &rawResult);
    std::unique_ptr<LDAPMessage, MessageFreer> result(rawResult);
    if (rc != LDAP_SUCCESS || result == nullptr) {
        return std::nullopt;
    }
    LDAPMessage* entry = ldap_first_entry(ld.get(), result.get());
    if (entry == nullptr) {
        return std::nullopt;
    }
    return EntryOf(ld.get(), entry);
}

} // namespace quindral
