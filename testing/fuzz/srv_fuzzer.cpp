// libFuzzer target: arbitrary bytes as a DNS reply through the SRV answer parsing and the order of
// the targets. Every record kept must have a real target, and the order must hold exactly the
// records parsed, lowest priority first.

#include "report/ldap/plumbing/DnsSrv.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto records = quindral::ParseSrvAnswer(data, size);
    std::size_t draw = 0;
    const auto ordered = quindral::OrderSrvRecords(records, [&](std::uint32_t upTo) {
        const std::uint32_t pick = size > 0 ? data[draw++ % size] : 0;
        return upTo == 0 ? 0 : pick % (upTo + 1);
    });
    for (const auto& record : records) {
        if (record.target.empty() || record.target == ".") {
            std::abort();
        }
    }
    const auto byPriority = [](const auto& a, const auto& b) { return a.priority < b.priority; };
    if (!std::is_sorted(ordered.begin(), ordered.end(), byPriority) ||
        !std::is_permutation(ordered.begin(), ordered.end(), records.begin(), records.end())) {
        std::abort();
    }
    return 0;
}
