#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"

#include "report/ldap/plumbing/Text.h"

#include <algorithm>

namespace quindral {

namespace {

constexpr std::size_t kMaxLabel = 63;
constexpr std::size_t kMaxName = 253;

bool IsNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

} // namespace

std::vector<std::string> SrvNamesFor(Provider provider, const std::string& domain) {
    if (provider == Provider::GlobalCatalog) {
        return {"_ldap._tcp.gc._msdcs." + domain, "_gc._tcp." + domain};
    }
    return {"_ldap._tcp.dc._msdcs." + domain, "_ldap._tcp." + domain};
}

std::vector<std::string> SiteSrvNamesFor(Provider provider, const std::string& site,
                                         const std::string& domain) {
    if (provider == Provider::GlobalCatalog) {
        return {"_ldap._tcp." + site + "._sites.gc._msdcs." + domain,
                "_gc._tcp." + site + "._sites." + domain};
    }
    return {"_ldap._tcp." + site + "._sites.dc._msdcs." + domain};
}

bool IsSiteLabel(std::string_view site) {
    return !site.empty() && site.size() <= kMaxLabel &&
           std::none_of(site.begin(), site.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return byte < 0x20 || byte == 0x7F || c == '.' || c == '\\';
           });
}

bool IsDnsName(std::string_view name) {
    if (name.empty() || name.size() > kMaxName) {
        return false;
    }
    std::size_t label = 0;
    for (char c : name) {
        if (c == '.') {
            if (label == 0) {
                return false;
            }
            label = 0;
        } else if (!IsNameByte(c) || ++label > kMaxLabel) {
            return false;
        }
    }
    return label > 0;
}

std::optional<std::string> DnsNameOfNamingContext(std::string_view distinguishedName) {
    std::string name;
    for (const std::string& component : SplitList(distinguishedName)) {
        const std::size_t equals = component.find('=');
        if (equals != std::string::npos && SameName(Trimmed(component.substr(0, equals)), "dc")) {
            const std::string label = Trimmed(component.substr(equals + 1));
            if (!label.empty()) {
                name += (name.empty() ? "" : ".") + label;
            }
        }
    }
    return name.empty() ? std::nullopt : std::optional(name);
}

bool IsRealmOfADomain(std::string_view realm) {
    return IsDnsName(realm) && realm.find('_') == std::string_view::npos;
}

} // namespace quindral
