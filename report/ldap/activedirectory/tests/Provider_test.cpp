#include "report/ldap/activedirectory/Provider.h"

#include <gtest/gtest.h>

namespace quindral {
namespace {

TEST(ProviderOfBindPath, OnlyTheTwoRootDsePathsBind) {
    EXPECT_EQ(ProviderOfBindPath("LDAP://rootDSE"), Provider::Ldap);
    EXPECT_EQ(ProviderOfBindPath("GC://rootDSE"), Provider::GlobalCatalog);
    for (const char* path : {"ldap://rootDSE", "GC://rootdse", "WinNT://rootDSE", "://rootDSE",
                             "LDAP://server/rootDSE", "LDAP://rootDSE/", ""}) {
        EXPECT_EQ(ProviderOfBindPath(path), std::nullopt) << path;
    }
}

TEST(UrisForProvider, CatalogUsesTheSameHostsOnItsOwnPorts) {
    const std::string list = "ldap://dc1.example:389 ldaps://dc2.example, ldapi:///run/x "
                             "ldap://[::1]:1389";
    EXPECT_EQ(UrisForProvider(list, Provider::Ldap),
              (std::vector<std::string>{"ldap://dc1.example:389", "ldaps://dc2.example",
                                        "ldapi:///run/x", "ldap://[::1]:1389"}));
    EXPECT_EQ(UrisForProvider(list, Provider::GlobalCatalog),
              (std::vector<std::string>{"ldap://dc1.example:3268", "ldaps://dc2.example:3269",
                                        "ldap://[::1]:3268"}));
    EXPECT_TRUE(UrisForProvider("not a uri", Provider::Ldap).empty());
}

} // namespace
} // namespace quindral
