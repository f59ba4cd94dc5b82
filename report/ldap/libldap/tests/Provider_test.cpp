#include "report/ldap/libldap/Provider.h"

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

} // namespace
} // namespace quindral
