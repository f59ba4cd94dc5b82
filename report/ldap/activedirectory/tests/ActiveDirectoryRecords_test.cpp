#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>

namespace quindral {
namespace {

TEST(DnsNameOfNamingContext, DomainComponentsInOrder) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"DC=lab,DC=example,DC=test", "lab.example.test"},
        {"dc=Lab, dc=Example ,DC=test", "Lab.Example.test"},
        {"CN=Configuration,DC=quindral,DC=test", "quindral.test"},
        {"O=plain", std::nullopt},
        {"", std::nullopt},
        {"DC=,DC=test", "test"},
    };
    for (const auto& [dn, name] : cases) {
        EXPECT_EQ(DnsNameOfNamingContext(dn), name) << dn;
    }
}

TEST(IsDnsName, LabelsOfNameBytesWithinTheirLengths) {
    const std::string label63(63, 'a');
    std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
    const std::pair<std::string, bool> cases[] = {
        {"lab.example.test", true},
        {"_sites.Lab-1.test", true},
        {"x", true},
        {label63 + ".test", true},
        {std::string(64, 'a') + ".test", false},
        {name253, true},
        {name253 + "c", false},
        {"", false},
        {".test", false},
        {"lab..test", false},
        {"lab.test.", false},
        {"lab test", false},
        {"lab\\.test", false},
        {std::string("lab\0test", 8), false},
        {"l\xC3\xA4"
         "b.test",
         false},
    };
    for (const auto& [name, valid] : cases) {
        EXPECT_EQ(IsDnsName(name), valid) << name;
    }
}

} // namespace
} // namespace quindral
