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
    std::vector<std::string> sssdContacted = {};
    std::optional<std::string> hostDomain = std::nullopt;
    std::vector<std::string> searchList = {};
    std::optional<std::string> realm = std::nullopt;
    std::vector<std::string> domains;
};

TEST(DomainsToSearch, JoinThenTheHostsDomainThenTheSearchListThenTheRealmEachOnce) {
    const DomainsCase cases[] = {
        // sssd keeps a kdcinfo file for a trusted domain too: it confirms the realm that
        // krb5.conf names (sssd.conf is root's alone) and never comes before it.
        {.name = "the realm sssd serves first, a trusted domain's last",
         .sssdContacted = {"AMER.EXAMPLE.TEST", "EXAMPLE.TEST"},
         .hostDomain = "corp.other.test",
         .realm = "EXAMPLE.TEST",
         .domains = {"example.test", "corp.other.test", "amer.example.test"}},
        {.name = "realms sssd contacted, none confirmed, after the host's own",
         .sssdContacted = {"AMER.EXAMPLE.TEST"},
         .hostDomain = "example.test",
         .realm = "OLD.TEST",
         .domains = {"example.test", "old.test", "amer.example.test"}},
        {.name = "joined host named in another zone",
         .hostDomain = "corp.other.test",
         .searchList = {"corp.other.test"},
         .realm = "LAB.EXAMPLE.TEST",
         .domains = {"corp.other.test", "lab.example.test"}},
        {.name = "the join's domains first, its realms as domains",
         .joined = {"Ad.Test", "CORP.EXAMPLE.TEST", "corp.other.test"},
         .hostDomain = "corp.other.test",
         .realm = "LAB.EXAMPLE.TEST",
         .domains = {"ad.test", "corp.example.test", "corp.other.test", "lab.example.test"}},
        {.name = "no realm",
         .hostDomain = "corp.other.test",
         .searchList = {"corp.other.test", "lab.example.test"},
         .domains = {"corp.other.test", "lab.example.test"}},
        {.name = "realm of the host's own domain",
         .hostDomain = "Quindral.Test",
         .realm = "QUINDRAL.TEST",
         .domains = {"Quindral.Test"}},
        {.name = "realm that is not a DNS name",
         .hostDomain = "x.test",
         .realm = "LAB EXAMPLE",
         .domains = {"x.test"}},
        {.name = "realm with an underscore", .realm = "LAB_X.TEST", .domains = {}},
        {.name = "realm with a trailing dot", .realm = "LAB.TEST.", .domains = {}},
        {.name = "Debian's template realm",
         .hostDomain = "quindral.test",
         .realm = "ATHENA.MIT.EDU",
         .domains = {"quindral.test"}},
        {.name = "another template realm, in any case",
         .searchList = {"corp.test"},
         .realm = "Example.Com",
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
        EXPECT_EQ(DomainsToSearch(c.joined, c.sssdContacted, c.hostDomain, c.searchList, c.realm),
                  c.domains)
            << c.name;
    }
}

} // namespace
} // namespace quindral
