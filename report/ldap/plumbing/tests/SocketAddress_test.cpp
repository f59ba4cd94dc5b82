#include "report/ldap/plumbing/SocketAddress.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>

namespace quindral {
namespace {

TEST(NumericAddress, LiteralsNeedNoLookupAndKeepTheirScope) {
    const auto scoped = NumericAddress("fe80::1%lo", 389);
    ASSERT_TRUE(scoped);
    ASSERT_EQ(scoped->ss_family, AF_INET6);
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(*scoped);
    EXPECT_EQ(v6.sin6_scope_id, ::if_nametoindex("lo"));
    EXPECT_EQ(ntohs(v6.sin6_port), 389);
    const auto v4 = NumericAddress("127.0.0.10", 3268);
    ASSERT_TRUE(v4);
    EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in&>(*v4).sin_port), 3268);
    EXPECT_EQ(NumericAddress("dc1.quindral.test", 389), std::nullopt);
}

} // namespace
} // namespace quindral
