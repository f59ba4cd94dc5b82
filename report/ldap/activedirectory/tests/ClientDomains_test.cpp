#include "report/ldap/activedirectory/ClientDomains.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace quindral {
namespace {

struct DomainsCase {
    const char* name;
    std::vector<std::string> joined = {};
    std::optional<std::string> realm = std::nullopt;
    std::optional<std::string> hostDomain = std::nullopt;
    std::vector<std::string> searchList = {};
    std::vector<std::string> domains;
};

TEST(DomainsToSearch, HostsDomainThenTheSearchListThenTheRealmEachOnce) {
    const DomainsCase cases[] = {
        {.name = "joined host named in another zone",
         .realm = "LAB.EXAMPLE.TEST",
         .hostDomain = "corp.other.test",
         .searchList = {"corp.other.test"},
         .domains = {"corp.other.test", "lab.example.test"}},
        {.name = "the join's domains first, its realms as domains",
         .joined = {"Ad.Test", "CORP.EXAMPLE.TEST", "corp.other.test"},
         .realm = "LAB.EXAMPLE.TEST",
         .hostDomain = "corp.other.test",
         .domains = {"ad.test", "corp.example.test", "corp.other.test", "lab.example.test"}},
        {.name = "no realm",
         .hostDomain = "corp.other.test",
         .searchList = {"corp.other.test", "lab.example.test"},
         .domains = {"corp.other.test", "lab.example.test"}},
        {.name = "realm of the host's own domain",
         .realm = "QUINDRAL.TEST",
         .hostDomain = "Quindral.Test",
         .domains = {"Quindral.Test"}},
        {.name = "realm that is not a DNS name",
         .realm = "LAB EXAMPLE",
         .hostDomain = "x.test",
         .domains = {"x.test"}},
        {.name = "realm with an underscore", .realm = "LAB_X.TEST", .domains = {}},
        {.name = "realm with a trailing dot", .realm = "LAB.TEST.", .domains = {}},
        {.name = "Debian's template realm",
         .realm = "ATHENA.MIT.EDU",
         .hostDomain = "quindral.test",
         .domains = {"quindral.test"}},
        {.name = "another template realm, in any case",
         .realm = "Example.Com",
         .searchList = {"corp.test"},
         .domains = {"corp.test"}},
        {.name = "search list with duplicates",
         .searchList = {"a.test", "A.TEST", "b.test", "a.test."},
         .domains = {"a.test", "b.test"}},
        {.name = "bare host name, resolver's domain",
         .searchList = {"corp.test"},
         .domains = {"corp.test"}},
        {.name = "empty everything", .domains = {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DomainsToSearch(c.joined, c.realm, c.hostDomain, c.searchList), c.domains)
            << c.name;
    }
}

} // namespace
} // namespace quindral
