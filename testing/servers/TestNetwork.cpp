#include "TestNetwork.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quindral::testing {

namespace {

bool inPrivateNetwork = false;

void BindOver(const std::filesystem::path& file, const char* target) {
    if (::mount(file.c_str(), target, nullptr, MS_BIND, nullptr) != 0) {
        throw std::runtime_error(std::string("cannot bind a file over ") + target);
    }
}

bool Answers(const char* address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &peer.sin_addr);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
    ::close(fd);
    return ok;
}

void WriteProcFile(const char* path, const std::string& text) {
    std::ofstream(path) << text;
}

} // namespace

bool EnterPrivateNetwork() {
    constexpr int kNamespaces = CLONE_NEWNET | CLONE_NEWNS | CLONE_NEWUTS;
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(kNamespaces) != 0) {
        // Without root: in a user namespace of its own, where this user is root, may listen on
        // the low ports and mount over files of the namespace's own view.
        if (::unshare(CLONE_NEWUSER | kNamespaces) != 0) {
            return false;
        }
        WriteProcFile("/proc/self/setgroups", "deny");
        WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    // Mounts made here must not reach the machine's own mount table.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq loopback{};
    std::strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &loopback) == 0 &&
                    (loopback.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &loopback) == 0);
    ::close(fd);
    inPrivateNetwork = up;
    return up;
}

bool InPrivateNetwork() {
    return inPrivateNetwork;
}

TestHost::TestHost(const std::string& hostName, const std::string& resolvConf,
                   const std::string& hosts, const std::string& krb5Conf,
                   const std::string& smbConf) {
    if (::sethostname(hostName.data(), hostName.size()) != 0) {
        throw std::runtime_error("cannot set the host name");
    }
    std::ofstream(dir_.path() / "resolv.conf") << resolvConf;
    std::ofstream(dir_.path() / "hosts") << hosts;
    std::ofstream(dir_.path() / "empty");
    std::ofstream(dir_.path() / "krb5.conf") << krb5Conf;
    if (const char* previous = std::getenv("KRB5_CONFIG")) {
        krb5Config_ = previous;
    }
    ::setenv("KRB5_CONFIG", (dir_.path() / "krb5.conf").c_str(), 1);
    // What a join leaves is this host's own: its smb.conf, no sssd configuration, no keytab.
    if (const char* previous = std::getenv("KRB5_KTNAME")) {
        keytab_ = previous;
    }
    ::setenv("KRB5_KTNAME", ("FILE:" + (dir_.path() / "krb5.keytab").string()).c_str(), 1);
    std::ofstream(dir_.path() / "smb.conf") << smbConf;
    std::filesystem::create_directories(dir_.path() / "sssd");
    smbConf_ = std::filesystem::exists("/etc/samba/smb.conf");
    if (smbConf_) {
        BindOver(dir_.path() / "smb.conf", "/etc/samba/smb.conf");
    } else if (!smbConf.empty()) {
        throw std::runtime_error("no /etc/samba/smb.conf to stand in for");
    }
    sssd_ = std::filesystem::is_directory("/etc/sssd");
    if (sssd_) {
        BindOver(dir_.path() / "sssd", "/etc/sssd");
    }
    BindOver(dir_.path() / "resolv.conf", "/etc/resolv.conf");
    BindOver(dir_.path() / "hosts", "/etc/hosts");
    HostsSources("files dns");
    BindOver(dir_.path() / "nsswitch.conf", "/etc/nsswitch.conf");
    if (std::filesystem::exists("/etc/ldap/ldap.conf")) {
        BindOver(dir_.path() / "empty", "/etc/ldap/ldap.conf");
    }
}

TestHost::~TestHost() {
    if (krb5Config_) {
        ::setenv("KRB5_CONFIG", krb5Config_->c_str(), 1);
    } else {
        ::unsetenv("KRB5_CONFIG");
    }
    if (keytab_) {
        ::setenv("KRB5_KTNAME", keytab_->c_str(), 1);
    } else {
        ::unsetenv("KRB5_KTNAME");
    }
    if (smbConf_) {
        ::umount2("/etc/samba/smb.conf", MNT_DETACH);
    }
    if (sssd_) {
        ::umount2("/etc/sssd", MNT_DETACH);
    }
    ::umount2("/etc/ldap/ldap.conf", MNT_DETACH);
    ::umount2("/etc/hosts", MNT_DETACH);
    ::umount2("/etc/resolv.conf", MNT_DETACH);
    ::umount2("/etc/nsswitch.conf", MNT_DETACH);
}

void TestHost::HostsSources(const std::string& services) {
    std::ofstream(dir_.path() / "nsswitch.conf")
        << "passwd: files\ngroup: files\nhosts: " << services << "\n";
}

DnsmasqServer::DnsmasqServer(const std::string& records) {
    const auto conf = dir_.path() / "dnsmasq.conf";
    std::ofstream(conf) << "listen-address=" << kTestNameserver
                        << "\nbind-interfaces\nport=53\nno-resolv\nno-hosts\n"
                           "local=/test/\n"
                        << "pid-file=" << (dir_.path() / "dnsmasq.pid").string() << "\n"
                        << records;
    const std::string confOption = "--conf-file=" + conf.string();
    const std::string logPath = (dir_.path() / "dnsmasq.log").string();
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // A test process that is killed takes its server with it (even one killed just now).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(1);
        }
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(log, STDERR_FILENO);
        // It keeps the user and group it starts as: a user namespace allows no other.
        ::execl("/usr/sbin/dnsmasq", "dnsmasq", "--keep-in-foreground", "--log-facility=-",
                "--user=root", "--group=", confOption.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // dnsmasq answers over TCP on the same port once it serves.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Answers(kTestNameserver, 53)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_ ||
            std::chrono::steady_clock::now() > deadline) {
            pid_ = -1;
            throw std::runtime_error("dnsmasq did not start: " +
                                     ReadFile(dir_.path() / "dnsmasq.log"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

DnsmasqServer::~DnsmasqServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

} // namespace quindral::testing
