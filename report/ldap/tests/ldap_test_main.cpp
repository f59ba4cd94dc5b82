// The main of the LDAP tests. A server that closes its connection while a request is being written
// must fail that bind, not end the test process, as in the program's own main. The tests that need
// a network of their own run in a process that moves into private network, mount and UTS
// namespaces before anything else, so that what they start and what the program asks never
// leaves it.

#include "SkipsInCi.h"
#include "TestNetwork.h"

#include <csignal>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
#ifdef QUINDRAL_TESTS_IN_PRIVATE_NETWORK
    quindral::testing::EnterPrivateNetwork();
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return quindral::testing::RunAllTestsNamingSkips();
}
