// How the server is found through the OpenLDAP client configuration the process starts with.
// Each case runs the fetch probe as a process of its own, since
// libldap reads its configuration once per process.

#include "LdapTestSupport.h"
#include "ScriptedServer.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace quindral::testing {
namespace {

class ConfigurationRouteTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUINDRAL_NEED_LOW_PORTS();
        dc = std::make_unique<SlapdServer>(SlapdServer::Options{address, {389}, "ad-ldap.ldif"});
        gc = std::make_unique<SlapdServer>(SlapdServer::Options{address, {3268}, "ad-gc.ldif"});
    }

    std::string address = RandomLoopbackAddress();
    std::unique_ptr<SlapdServer> dc;
    std::unique_ptr<SlapdServer> gc;
    TempDirectory dir;
};

TEST_F(ConfigurationRouteTest, LdapUriFromTheEnvironment) {
    const std::string env = "LDAPURI=ldap://" + address;
    const std::string ldap = Probe(env, "LDAP");
    const std::string gcReport = Probe(env, "GC");
    EXPECT_EQ(FirstLine(ldap), "Contacting LDAP://rootDSE");
    EXPECT_NE(ldap.find("  dnsHostName: dc1.quindral.test\r\n"), std::string::npos) << ldap;
    EXPECT_EQ(FirstLine(gcReport), "Contacting GC://rootDSE");
    EXPECT_NE(gcReport.find("  dnsHostName: gc1.quindral.test\r\n"), std::string::npos);
}

TEST_F(ConfigurationRouteTest, UriFromAnLdapConfFile) {
    const auto conf = dir.path() / "ldap.conf";
    std::ofstream(conf) << "# a client configuration\nURI ldap://" << address << "/\n";
    const std::string report = Probe("LDAPCONF=" + conf.string(), "GC");
    EXPECT_NE(report.find("  dnsHostName: gc1.quindral.test\r\n"), std::string::npos) << report;
    EXPECT_EQ(CountLogLines(gc->StatsLog(), " SRCH base="), 1);
    EXPECT_EQ(CountLogLines(dc->StatsLog(), " SRCH base="), 0);
}

TEST(ConfiguredTimeout, NetworkTimeoutFromLdapConfWins) {
    TempDirectory dir;
    ScriptedServer hole(RandomLoopbackAddress(), {}, /*acceptConnections=*/false);
    const auto conf = dir.path() / "ldap.conf";
    std::ofstream(conf) << "URI " << hole.Uri() << "\nNETWORK_TIMEOUT 1\n";
    const auto start = std::chrono::steady_clock::now();
    const std::string report = Probe("LDAPCONF=" + conf.string(), "LDAP");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(report, kFailedBindReport);
    EXPECT_LT(took, std::chrono::seconds(4)); // the default would be 5 s
}

// The first click while libldap's first use hangs (here on a configuration file that is a FIFO;
// on a real host, a hosts source such as sss or winbind): it ends by the bound configured, not by
// libldap's defaults (20 s).
TEST(ConfiguredTimeout, FirstClickEndsByTheConfiguredBoundWhileTheFirstUseHangs) {
    TempDirectory dir;
    const auto fifo = dir.path() / "ldap.conf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    const std::string report =
        Probe("LDAPCONF=" + fifo.string() + " LDAPNETWORK_TIMEOUT=1 LDAPTIMEOUT=1", "LDAP");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(report, kFailedBindReport);
    // 2 s for the click, then a second that the end gives the first use.
    EXPECT_LT(took, std::chrono::seconds(6));
}

// The program started and ended at once, again and again: libldap's first use, still at work on a
// thread of its own when the program ends, must never meet libldap's own end (a double free at
// worst, a leak under the sanitizers).
TEST(FirstUseAtTheEnd, ProgramThatEndsAtOnceEndsCleanly) {
    for (int start = 0; start < 60; ++start) {
        int status = -1;
        const std::string report = Probe("LDAPNOINIT=1", "NoSuchProvider", &status);
        ASSERT_EQ(report, kFailedBindReport) << "start " << start;
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "start " << start << ", wait status " << status;
    }
}

// A first use that is still at work when the program's work is done: its configuration file is a
// FIFO, which a writer opens 0.3 s after the start and writes, opens and never writes (libldap's
// fgets then holds its stream's lock), or never opens. The program must end only after the first
// use, when it comes within a second, and otherwise a second after its work; with its status and
// all its output either way.
TEST(FirstUseAtTheEnd, ProgramEndsAfterAFirstUseStillAtWork) {
    enum class Writer { Writes, OpensAndNeverWrites, NeverOpens };
    for (const Writer writes : {Writer::Writes, Writer::OpensAndNeverWrites, Writer::NeverOpens}) {
        SCOPED_TRACE("writer " + std::to_string(static_cast<int>(writes)));
        TempDirectory dir;
        const auto fifo = dir.path() / "ldap.conf";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::atomic<bool> ended{false};
        std::atomic<bool> reached{false};
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            while (writes != Writer::NeverOpens && !ended) {
                // Opens only while the probe, still running, reads the FIFO.
                const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    reached = writes == Writer::OpensAndNeverWrites ||
                              ::write(fd, "TIMEOUT 3\n", 10) == 10;
                    while (writes == Writer::OpensAndNeverWrites && !ended) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                    ::close(fd);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        int status = -1;
        const auto start = std::chrono::steady_clock::now();
        const std::string report = Probe("LDAPCONF=" + fifo.string(), "NoSuchProvider", &status);
        const auto took = std::chrono::steady_clock::now() - start;
        ended = true;
        writer.join();
        EXPECT_EQ(report, kFailedBindReport);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
        EXPECT_EQ(reached, writes != Writer::NeverOpens)
            << "the program ended before libldap's first use";
        EXPECT_LT(took, std::chrono::seconds(4));
    }
}

} // namespace
} // namespace quindral::testing
