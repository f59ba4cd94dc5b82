#pragma once

#include <filesystem>
#include <string>

namespace quindral::testing {

// A certificate authority made for one test (openssl, elliptic-curve keys), and server
// certificates it issues for a DNS name, all in a folder that goes with it.
class TestCertificates {
public:
    struct Issued {
        std::filesystem::path certificate;
        std::filesystem::path key;
    };

    explicit TestCertificates(const std::string& authorityName = "Quindral Test CA");
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // The authority's own certificate, for a client's TLS_CACERT.
    const std::filesystem::path& Authority() const { return authority_; }
    // A server certificate for the DNS name (or the IPv4 address), signed by this authority.
    Issued Issue(const std::string& name);

private:
    std::filesystem::path dir_;
    std::filesystem::path authority_;
    std::filesystem::path authorityKey_;
    int issued_ = 0;
};

} // namespace quindral::testing
