#pragma once

#include "report/Directory.h"

#include <map>
#include <string>

namespace quindral::testing {

// An in-memory directory for testing the fetch run: binds exactly the paths it was given.
class FakeDirectory final : public Directory {
public:
    using Attributes = std::map<std::string, DirectoryValue, std::less<>>;

    void Add(std::string path, Attributes attributes) {
        objects_[std::move(path)] = std::move(attributes);
    }

    std::shared_ptr<DirectoryObject> Bind(std::string_view path) override {
        boundPaths.emplace_back(path);
        auto found = objects_.find(path);
        if (found == objects_.end()) {
            return nullptr;
        }
        auto object = std::make_shared<Object>(found->first, found->second);
        lastBound = object;
        return object;
    }

    std::vector<std::string> boundPaths;
    std::weak_ptr<DirectoryObject> lastBound;

private:
    class Object final : public DirectoryObject {
    public:
        Object(std::string path, Attributes attributes)
            : path_(std::move(path)), attributes_(std::move(attributes)) {}
        std::optional<std::string> ADsPath() const override { return path_; }
        std::optional<DirectoryValue> Get(std::string_view name) const override {
            auto found = attributes_.find(name);
            if (found == attributes_.end()) {
                return std::nullopt;
            }
            return found->second;
        }

    private:
        std::string path_;
        Attributes attributes_;
    };

    std::map<std::string, Attributes, std::less<>> objects_;
};

} // namespace quindral::testing
