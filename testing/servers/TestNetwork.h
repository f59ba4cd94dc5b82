#pragma once

#include "TempDirectory.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace quindral::testing {

// Moves this process into network, mount and UTS namespaces of its own, with the loopback
// interface up and nothing else: every server a test starts there, and every query the program
// sends, stays inside. Without root it takes a user namespace too, where it is root. Call it
// first in main, before any thread starts. False when the process may not (it then stays where it
// was, and the tests that need it skip).
bool EnterPrivateNetwork();
bool InPrivateNetwork();

// The client host as one test sees it, inside the private network: its host name, the
// resolv.conf and hosts files, an nsswitch.conf whose hosts line is "files dns" unless a test sets
// another, its Kerberos configuration (none unless given: KRB5_CONFIG names a file of its own) and
// no OpenLDAP client configuration. Put back when it goes.
class TestHost {
public:
    TestHost(const std::string& hostName, const std::string& resolvConf,
             const std::string& hosts = "127.0.0.1 localhost\n", const std::string& krb5Conf = "",
             const std::string& smbConf = "");
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // The services of nsswitch.conf's hosts line, as in "files [NOTFOUND=return] dns".
    void HostsSources(const std::string& services);

private:
    TempDirectory dir_;
    std::optional<std::string> krb5Config_; // the variables as they were
    std::optional<std::string> keytab_;
    bool smbConf_ = false;
    bool sssd_ = false;
};

// A real dnsmasq on 127.0.0.53:53 serving the records of its configuration lines, stopped by PID.
class DnsmasqServer {
public:
    explicit DnsmasqServer(const std::string& records);
    ~DnsmasqServer();
    DnsmasqServer(const DnsmasqServer&) = delete;
    DnsmasqServer& operator=(const DnsmasqServer&) = delete;

private:
    TempDirectory dir_;
    pid_t pid_ = -1;
};

inline constexpr const char* kTestNameserver = "127.0.0.53";

#define QUINDRAL_NEED_PRIVATE_NETWORK()                                                            \
    if (!::quindral::testing::InPrivateNetwork())                                                  \
    GTEST_SKIP() << "needs network, mount and UTS namespaces (root, or user namespaces)"

} // namespace quindral::testing
