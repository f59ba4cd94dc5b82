#include "report/ldap/plumbing/DnsSrv.h"

#include <algorithm>
#include <arpa/nameser.h>
#include <climits>
#include <resolv.h>

namespace quindral {

std::vector<SrvRecord> ParseSrvAnswer(const unsigned char* reply, std::size_t length) {
    std::vector<SrvRecord> records;
    ns_msg message;
    if (reply == nullptr || length > INT_MAX ||
        ns_initparse(reply, static_cast<int>(length), &message) != 0) {
        return records;
    }
    const int count = ns_msg_count(message, ns_s_an);
    for (int i = 0; i < count; ++i) {
        ns_rr rr;
        if (ns_parserr(&message, ns_s_an, i, &rr) != 0) {
            break; // the rest of the section cannot be found either
        }
        constexpr int kFixedPart = 6; // priority, weight, port
        if (ns_rr_class(rr) != ns_c_in || ns_rr_type(rr) != ns_t_srv ||
            ns_rr_rdlen(rr) < kFixedPart + 1) {
            continue;
        }
        const unsigned char* data = ns_rr_rdata(rr);
        char target[NS_MAXDNAME] = {};
        // The name may point back into the message, but its own bytes must end inside the record.
        const int used = dn_expand(ns_msg_base(message), ns_msg_end(message), data + kFixedPart,
                                   target, sizeof target);
        if (used < 0 || used > ns_rr_rdlen(rr) - kFixedPart) {
            continue;
        }
        SrvRecord record;
        record.priority = static_cast<std::uint16_t>(ns_get16(data));
        record.weight = static_cast<std::uint16_t>(ns_get16(data + 2));
        record.port = static_cast<std::uint16_t>(ns_get16(data + 4));
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
