#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quindral::testing {

// A real OpenLDAP slapd started for one test on a loopback address, with a root entry taken from
// one of the fixture files, and stopped by its PID when the object goes. It logs every operation
// (slapd's "stats" level) so that tests can count the requests a run sent.
class SlapdServer {
public:
    struct Options {
        std::string address;        // a loopback address, 127.0.0.0/8
        std::vector<int> ports;     // one listener per port
        std::string rootDseFixture; // a file of the fixtures folder; empty for slapd's own
        bool withDatabase = false;  // an LDIF database, as a plain OpenLDAP server holds
        // TLS: the ports that speak ldaps://, with the server's certificate and key.
        std::vector<int> ldapsPorts = {};
        std::filesystem::path certificate = {};
        std::filesystem::path key = {};
    };

    explicit SlapdServer(Options options); // throws std::runtime_error when slapd does not start
    ~SlapdServer();
    SlapdServer(const SlapdServer&) = delete;
    SlapdServer& operator=(const SlapdServer&) = delete;

    // ldap:// or ldaps:// and the address, as the port speaks.
    std::string Uri(int port) const;
    std::string StatsLog() const;
    pid_t pid() const { return pid_; }

private:
    void Stop();

    Options options_;
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

// A loopback address of its own for each test, so that parallel runs never meet.
std::string RandomLoopbackAddress();

// Whether this process may listen on ports below 1024 (the standard LDAP and catalog ports).
bool CanListenOnLowPorts();

// Count of lines in slapd's stats log that contain the text.
int CountLogLines(const std::string& log, const std::string& text);

// Connections a client used, from slapd's stats log: every one that sent an operation or was closed
// otherwise than unused (the fixture's own check that slapd listens closes its connection unused).
int CountClientConnections(const std::string& log);

std::filesystem::path FixturePath(const std::string& name);

} // namespace quindral::testing
