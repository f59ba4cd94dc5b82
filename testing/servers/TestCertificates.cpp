#include "TestCertificates.h"

#include <arpa/inet.h>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quindral::testing {

namespace {

// Runs openssl with the arguments, its output discarded; throws when it fails.
void Openssl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "openssl");
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr ||
            std::freopen("/dev/null", "w", stderr) == nullptr) {
            ::_exit(127);
        }
        ::execvp("openssl", argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        throw std::runtime_error("openssl " + arguments.at(1) + " failed");
    }
}

const std::vector<std::string> kNewKey = {"-newkey", "ec", "-pkeyopt",
                                          "ec_paramgen_curve:prime256v1", "-nodes"};

} // namespace

TestCertificates::TestCertificates(const std::string& authorityName) {
    char pattern[] = "/tmp/quindral-pki-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot make a folder for certificates");
    }
    dir_ = pattern;
    authority_ = dir_ / "ca.pem";
    authorityKey_ = dir_ / "ca.key";
    std::vector<std::string> arguments = {"req", "-x509"};
    arguments.insert(arguments.end(), kNewKey.begin(), kNewKey.end());
    arguments.insert(arguments.end(),
                     {"-keyout", authorityKey_.string(), "-out", authority_.string(), "-days", "2",
                      "-subj", "/CN=" + authorityName});
    Openssl(arguments);
}

TestCertificates::~TestCertificates() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

TestCertificates::Issued TestCertificates::Issue(const std::string& name) {
    const std::string stem = (dir_ / ("server" + std::to_string(++issued_))).string();
    Issued issued{stem + ".pem", stem + ".key"};
    std::vector<std::string> request = {"req"};
    request.insert(request.end(), kNewKey.begin(), kNewKey.end());
    request.insert(request.end(),
                   {"-keyout", issued.key.string(), "-out", stem + ".csr", "-subj", "/CN=" + name});
    Openssl(request);
    in_addr address{};
    const bool numeric = ::inet_pton(AF_INET, name.c_str(), &address) == 1;
    std::ofstream(stem + ".ext") << "subjectAltName=" << (numeric ? "IP:" : "DNS:") << name << "\n";
    Openssl({"x509", "-req", "-in", stem + ".csr", "-CA", authority_.string(), "-CAkey",
             authorityKey_.string(), "-CAcreateserial", "-out", issued.certificate.string(),
             "-days", "2", "-extfile", stem + ".ext"});
    return issued;
}

} // namespace quindral::testing
