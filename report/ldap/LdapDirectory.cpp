#include "report/ldap/LdapDirectory.h"

#include "report/ldap/ServerLocator.h"
#include "report/ldap/libldap/LibldapFirstUse.h"
#include "report/ldap/libldap/RootDseSearch.h"

namespace quindral {

namespace {

class LdapRootDse final : public DirectoryObject {
public:
    LdapRootDse(std::string path, RootDseEntry entry)
        : path_(std::move(path)), entry_(std::move(entry)) {}

    std::optional<std::string> ADsPath() const override { return path_; }

    std::optional<DirectoryValue> Get(std::string_view attributeName) const override {
        const RootDseEntry::Attribute* attribute = entry_.Find(attributeName);
        if (attribute == nullptr || attribute->values.empty()) {
            return std::nullopt;
        }
        if (attribute->values.size() == 1) {
            return DirectoryValue::Text(attribute->values.front());
        }
        std::vector<DirectoryValue> values;
        values.reserve(attribute->values.size());
        for (const auto& value : attribute->values) {
            values.push_back(DirectoryValue::Text(value));
        }
        return DirectoryValue::List(std::move(values));
    }

private:
    std::string path_;
    RootDseEntry entry_;
};

} // namespace

LdapDirectory::LdapDirectory() {
    StartLibldapFirstUse();
}

std::shared_ptr<DirectoryObject> LdapDirectory::Bind(std::string_view path) {
    const auto provider = ProviderOfBindPath(path);
    if (!provider) {
        return nullptr;
    }
    auto entry = LocateRootDse(*provider);
    if (!entry) {
        return nullptr;
    }
    return std::make_shared<LdapRootDse>(std::string(path), std::move(*entry));
}

} // namespace quindral
