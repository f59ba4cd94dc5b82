#include "report/ldap/activedirectory/DnsDiscovery.h"

#include "report/ldap/plumbing/Text.h"

#include <memory>
#include <random>

namespace quindral {

void QueryPreferredSrv(AsyncResolver& resolver, const std::vector<std::string>& names,
                       std::function<void(std::size_t, std::vector<SrvRecord>)> settled) {
    struct State {
        std::vector<std::optional<std::vector<SrvRecord>>> answers;
        std::function<void(std::size_t, std::vector<SrvRecord>)> settled;
        bool done = false;

        void Settle() {
            for (std::size_t i = 0; i < answers.size(); ++i) {
                if (!answers[i]) {
                    return; // a better name is still unanswered
                }
                if (!answers[i]->empty()) {
                    Finish(i, std::move(*answers[i]));
                    return;
                }
            }
            Finish(answers.size(), {});
        }
        void Finish(std::size_t index, std::vector<SrvRecord> records) {
            done = true;
            std::random_device seed;
            std::mt19937 generator(seed());
            const auto random = [&](std::uint32_t upTo) {
                return std::uniform_int_distribution<std::uint32_t>(0, upTo)(generator);
            };
            settled(index, OrderSrvRecords(std::move(records), random));
        }
    };
    auto state = std::make_shared<State>();
    state->answers.resize(names.size());
    state->settled = std::move(settled);
    for (std::size_t i = 0; i < names.size(); ++i) {
        resolver.QuerySrv(names[i], [state, i](std::vector<SrvRecord> records) {
            state->answers[i] = std::move(records);
            if (!state->done) {
                state->Settle();
            }
        });
    }
}

std::optional<SrvServers> ServersFromSrv(const std::vector<std::string>& names,
                                         Clock::time_point deadline) {
    std::optional<SrvServers> found;
    bool settled = false;
    AsyncResolver resolver;
    QueryPreferredSrv(resolver, names, [&](std::size_t index, std::vector<SrvRecord> records) {
        settled = true;
        if (!records.empty()) {
            found = SrvServers{index, CandidatesOfRecords(records)};
        }
    });
    RunPollLoop(resolver, deadline, [&] { return settled || !resolver.Busy(); });
    return found;
}

} // namespace quindral
