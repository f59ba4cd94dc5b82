#include "SlapdServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quindral::testing {

namespace {

bool CanConnect(const std::string& address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &peer.sin_addr);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
    ::close(fd);
    return ok;
}

std::string ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

std::filesystem::path FixturePath(const std::string& name) {
    return std::filesystem::path(QUINDRAL_LDAP_FIXTURES) / name;
}

std::string RandomLoopbackAddress() {
    std::random_device seed;
    std::mt19937 generator(seed());
    std::uniform_int_distribution<int> octet(1, 254);
    return "127." + std::to_string(octet(generator)) + "." + std::to_string(octet(generator)) +
           "." + std::to_string(octet(generator));
}

bool CanListenOnLowPorts() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(1);
    ::inet_pton(AF_INET, RandomLoopbackAddress().c_str(), &local.sin_addr);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    ::close(fd);
    return ok;
}

int CountLogLines(const std::string& log, const std::string& text) {
    std::istringstream lines(log);
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find(text) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

int CountClientConnections(const std::string& log) {
    // By connection number: slapd may write a connection's ACCEPT line after the lines of the
    // operation it served, so a connection counts by any line but the ACCEPT and the close of an
    // unused one.
    std::set<std::string> used;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(" conn=");
        if (at == std::string::npos || line.find(" ACCEPT from") != std::string::npos ||
            line.find("(connection lost)") != std::string::npos) {
            continue;
        }
        const auto start = at + 6;
        used.insert(line.substr(start, line.find(' ', start) - start));
    }
    return static_cast<int>(used.size());
}

SlapdServer::SlapdServer(Options options) : options_(std::move(options)) {
    char pattern[] = "/tmp/quindral-slapd-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot make a folder for slapd");
    }
    dir_ = pattern;

    std::ofstream conf(dir_ / "slapd.conf");
    conf << "include /etc/ldap/schema/core.schema\n"
         << "include " << FixturePath("ad.schema").string() << "\n"
         << "pidfile " << (dir_ / "slapd.pid").string() << "\n"
         << "argsfile " << (dir_ / "slapd.args").string() << "\n";
    if (!options_.ldapsPorts.empty()) {
        conf << "TLSCertificateFile " << options_.certificate.string() << "\n"
             << "TLSCertificateKeyFile " << options_.key.string() << "\n";
    }
    if (!options_.rootDseFixture.empty()) {
        conf << "rootDSE " << FixturePath(options_.rootDseFixture).string() << "\n";
    }
    if (options_.withDatabase) {
        std::filesystem::create_directories(dir_ / "db");
        conf << "database ldif\nsuffix \"dc=plain,dc=test\"\n"
             << "directory " << (dir_ / "db").string() << "\n";
    }
    conf.close();

    std::vector<int> allPorts = options_.ports;
    allPorts.insert(allPorts.end(), options_.ldapsPorts.begin(), options_.ldapsPorts.end());
    std::string urls;
    for (int port : allPorts) {
        urls += (urls.empty() ? "" : " ") + Uri(port) + "/";
    }
    const std::string confPath = (dir_ / "slapd.conf").string();
    const std::string logPath = (dir_ / "stats.log").string();

    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("cannot fork slapd");
    }
    if (pid_ == 0) {
        // A test process that is killed takes its server with it (even one killed just now).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(1);
        }
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::execl("/usr/sbin/slapd", "slapd", "-d", "256", "-f", confPath.c_str(), "-h", urls.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            const std::string log = StatsLog();
            Stop();
            throw std::runtime_error("slapd ended at start: " + log);
        }
        bool all = true;
        for (int port : allPorts) {
            all = all && CanConnect(options_.address, port);
        }
        if (all) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string log = StatsLog();
    Stop();
    throw std::runtime_error("slapd did not listen within 10 s: " + log);
}

SlapdServer::~SlapdServer() {
    Stop();
}

void SlapdServer::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    pid_ = -1;
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string SlapdServer::Uri(int port) const {
    const bool tls = std::find(options_.ldapsPorts.begin(), options_.ldapsPorts.end(), port) !=
                     options_.ldapsPorts.end();
    return (tls ? "ldaps://" : "ldap://") + options_.address + ":" + std::to_string(port);
}

std::string SlapdServer::StatsLog() const {
    return ReadWhole(dir_ / "stats.log");
}

} // namespace quindral::testing
