#include "DnsSrv.h"

#include <algorithm>
#include <arpa/nameser.h>
#include <climits>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>
#include <unistd.h>

namespace quindral {

namespace {

std::optional<std::string> DomainPart(const std::string& name) {
    const auto dot = name.find('.');
    if (dot == std::string::npos || dot + 1 >= name.size()) {
        return std::nullopt;
    }
    std::string domain = name.substr(dot + 1);
    if (domain.back() == '.') {
        domain.pop_back();
    }
    return domain.empty() ? std::nullopt : std::optional(domain);
}

std::optional<std::string> FullyQualifiedHostName() {
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return std::nullopt;
    }
    if (std::strchr(host, '.') != nullptr) {
        return std::string(host);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::string(host);
    }
    std::string name = found->ai_canonname != nullptr ? found->ai_canonname : host;
    freeaddrinfo(found);
    return name;
}

// The resolver's state for one call, closed on every path.
class Resolver {
public:
    Resolver() { ok_ = res_ninit(&state_) == 0; }
    ~Resolver() { res_nclose(&state_); }
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    bool ok() const { return ok_; }
    res_state get() { return &state_; }

private:
    struct __res_state state_ {};
    bool ok_ = false;
};

} // namespace

std::optional<std::string> HostDnsDomain() {
    if (auto name = FullyQualifiedHostName()) {
        if (auto domain = DomainPart(*name)) {
            return domain;
        }
    }
    Resolver resolver;
    if (!resolver.ok()) {
        return std::nullopt;
    }
    if (resolver.get()->defdname[0] != '\0') {
        return std::string(resolver.get()->defdname);
    }
    if (resolver.get()->dnsrch[0] != nullptr && resolver.get()->dnsrch[0][0] != '\0') {
        return std::string(resolver.get()->dnsrch[0]);
    }
    return std::nullopt;
}

std::vector<SrvRecord> QuerySrvRecords(const std::string& name) {
    std::vector<SrvRecord> records;
    Resolver resolver;
    if (!resolver.ok()) {
        return records;
    }
    std::vector<unsigned char> answer(65536);
    const int length = res_nquery(resolver.get(), name.c_str(), ns_c_in, ns_t_srv, answer.data(),
                                  static_cast<int>(answer.size()));
    if (length <= 0) {
        return records;
    }
    ns_msg message;
    if (ns_initparse(answer.data(), length, &message) != 0) {
        return records;
    }
    const int count = ns_msg_count(message, ns_s_an);
    for (int i = 0; i < count; ++i) {
        ns_rr rr;
        if (ns_parserr(&message, ns_s_an, i, &rr) != 0 || ns_rr_type(rr) != ns_t_srv ||
            ns_rr_rdlen(rr) < 7) {
            continue;
        }
        const unsigned char* data = ns_rr_rdata(rr);
        SrvRecord record;
        record.priority = static_cast<std::uint16_t>(ns_get16(data));
        record.weight = static_cast<std::uint16_t>(ns_get16(data + 2));
        record.port = static_cast<std::uint16_t>(ns_get16(data + 4));
        char target[NS_MAXDNAME] = {};
        if (dn_expand(ns_msg_base(message), ns_msg_end(message), data + 6, target, sizeof target) <
            0) {
            continue;
        }
        record.target = target;
        if (record.target.empty() || record.target == ".") {
            continue;
        }
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<SrvRecord> OrderSrvRecords(std::vector<SrvRecord> records,
                                       const std::function<std::uint32_t(std::uint32_t)>& random) {
    std::stable_sort(records.begin(), records.end(),
                     [](const auto& a, const auto& b) { return a.priority < b.priority; });
    std::vector<SrvRecord> ordered;
    ordered.reserve(records.size());
    auto groupStart = records.begin();
    while (groupStart != records.end()) {
        auto groupEnd = std::find_if(groupStart, records.end(), [&](const auto& r) {
            return r.priority != groupStart->priority;
        });
        // Zero weights first, so that they have a small chance of being chosen early.
        std::vector<SrvRecord> group(groupStart, groupEnd);
        std::stable_partition(group.begin(), group.end(),
                              [](const auto& r) { return r.weight == 0; });
        while (!group.empty()) {
            std::uint32_t total = 0;
            for (const auto& r : group) {
                total += r.weight;
            }
            const std::uint32_t pick = random(total);
            std::uint32_t running = 0;
            auto chosen = group.begin();
            for (auto it = group.begin(); it != group.end(); ++it) {
                running += it->weight;
                if (running >= pick) {
                    chosen = it;
                    break;
                }
            }
            ordered.push_back(std::move(*chosen));
            group.erase(chosen);
        }
        groupStart = groupEnd;
    }
    return ordered;
}

} // namespace quindral
