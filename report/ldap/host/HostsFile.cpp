#include "report/ldap/host/HostsFile.h"

#include "report/ldap/host/LocalFile.h"
#include "report/ldap/plumbing/SocketAddress.h"
#include "report/ldap/plumbing/Text.h"

#include <sstream>
#include <sys/stat.h>
#include <utility>

namespace quindral {

HostsFile::HostsFile(const std::string& path) {
    // A size over the cap is seen before a byte is read; a file that says none is read to the cap.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 ||
        static_cast<std::size_t>(status.st_size) > kHostsFileCap) {
        return;
    }
    const LocalFile file = ReadLocalFile(path, kHostsFileCap);
    if (file.state != LocalFile::State::Whole) {
        return;
    }
    std::istringstream text(file.bytes);
    for (std::string line; std::getline(text, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string address;
        std::string name;
        if (!(words >> address >> name) || !NumericAddress(address, 0)) {
            continue;
        }
        const std::size_t at = lines_.size();
        lines_.push_back({address, name});
        do {
            linesOfName_[AsciiLowerCase(name)].push_back(at);
        } while (words >> name);
    }
}

std::vector<sockaddr_storage> HostsFile::Addresses(const std::string& name, std::uint16_t port,
                                                   int family) const {
    std::vector<sockaddr_storage> addresses;
    const auto found = linesOfName_.find(AsciiLowerCase(name));
    if (found == linesOfName_.end()) {
        return addresses;
    }
    for (const std::size_t at : found->second) {
        const auto address = NumericAddress(lines_[at].address, port);
        if (address && address->ss_family == family) {
            addresses.push_back(*address);
        }
    }
    return addresses;
}

std::optional<std::string> HostsFile::CanonicalName(const std::string& name) const {
    const auto found = linesOfName_.find(AsciiLowerCase(name));
    if (found == linesOfName_.end()) {
        return std::nullopt;
    }
    return lines_[found->second.front()].canonical;
}

SystemNames::SystemNames(AsyncResolver& dns, std::string order)
    : dns_(dns), order_(std::move(order)) {}

const HostsFile& SystemNames::Hosts() {
    if (!hosts_) {
        hosts_.emplace();
    }
    return *hosts_;
}

void SystemNames::LookupAddresses(const std::string& host, std::uint16_t port, int family,
                                  AsyncResolver::Name kind,
                                  std::function<void(std::vector<sockaddr_storage>)> done) {
    if (const auto numeric = NumericAddress(host, port)) {
        done(numeric->ss_family == family ? std::vector{*numeric}
                                          : std::vector<sockaddr_storage>{});
        return;
    }
    // An absolute name is the same name to the hosts file without its final dot.
    std::string name = kind == AsyncResolver::Name::Absolute && host.ends_with('.')
                           ? host.substr(0, host.size() - 1)
                           : host;
    AddressesFrom(0, std::move(name), port, family, kind, std::move(done));
}

void SystemNames::AddressesFrom(std::size_t source, std::string host, std::uint16_t port,
                                int family, AsyncResolver::Name kind,
                                std::function<void(std::vector<sockaddr_storage>)> done) {
    for (; source < order_.size() && order_[source] == 'f'; ++source) {
        auto found = Hosts().Addresses(host, port, family);
        if (!found.empty()) {
            done(std::move(found));
            return;
        }
    }
    if (source >= order_.size()) {
        done({});
        return;
    }
    dns_.LookupAddresses(host, port, family, kind,
                         [this, source, host, port, family, kind,
                          done = std::move(done)](std::vector<sockaddr_storage> found) mutable {
                             if (!found.empty()) {
                                 done(std::move(found));
                             } else {
                                 AddressesFrom(source + 1, std::move(host), port, family, kind,
                                               std::move(done));
                             }
                         });
}

void SystemNames::LookupCanonicalName(const std::string& host,
                                      std::function<void(std::optional<std::string>)> done) {
    CanonicalNameFrom(0, host, std::move(done));
}

void SystemNames::CanonicalNameFrom(std::size_t source, std::string host,
                                    std::function<void(std::optional<std::string>)> done) {
    for (; source < order_.size() && order_[source] == 'f'; ++source) {
        if (auto found = Hosts().CanonicalName(host)) {
            done(std::move(found));
            return;
        }
    }
    if (source >= order_.size()) {
        done(std::nullopt);
        return;
    }
    dns_.LookupCanonicalName(host, [this, source, host, done = std::move(done)](
                                       std::optional<std::string> found) mutable {
        if (found) {
            done(std::move(found));
        } else {
            CanonicalNameFrom(source + 1, std::move(host), std::move(done));
        }
    });
}

} // namespace quindral
