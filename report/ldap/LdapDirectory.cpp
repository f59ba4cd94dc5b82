#include "LdapDirectory.h"

#include "RootDseReader.h"
#include "ServerLocator.h"

#include <csignal>

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
    // A server that closes the connection while a request is being written must not end the
    // program with SIGPIPE; the write fails and the bind with it.
    std::signal(SIGPIPE, SIG_IGN);
}

std::shared_ptr<DirectoryObject> LdapDirectory::Bind(std::string_view path) {
    const auto provider = ProviderOfBindPath(path);
    if (!provider) {
        return nullptr;
    }
    const ServerTimeouts timeouts = EffectiveTimeouts();
    for (const auto& uri : LocateServers(*provider)) {
        if (auto entry = ReadRootDse(uri, timeouts)) {
            return std::make_shared<LdapRootDse>(std::string(path), std::move(*entry));
        }
    }
    return nullptr;
}

} // namespace quindral
