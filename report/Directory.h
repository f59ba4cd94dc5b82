#pragma once

#include "DirectoryValue.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quindral {

// A bound directory object: the root entry of a directory server.
class DirectoryObject {
public:
    virtual ~DirectoryObject() = default;

    // The object's path, or nothing when the platform cannot give it.
    virtual std::optional<std::string> ADsPath() const = 0;
    // The attribute's value, or nothing when it cannot be read (absent, say).
    virtual std::optional<DirectoryValue> Get(std::string_view attributeName) const = 0;
};

// The platform's directory service: binds an object by its path name, such as "LDAP://rootDSE".
class Directory {
public:
    virtual ~Directory() = default;

    // The bound object, or null when the bind failed (unknown provider, no server, ...).
    virtual std::shared_ptr<DirectoryObject> Bind(std::string_view path) = 0;
};

} // namespace quindral
