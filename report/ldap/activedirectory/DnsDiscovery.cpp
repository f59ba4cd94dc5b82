#include "report/ldap/activedirectory/DnsDiscovery.h"

#include "report/ldap/plumbing/Utf8Text.h"

#include <memory>
#include <random>

namespace quindral {

namespace {

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

} // namespace

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

std::optional<std::string> DnsNameOfNamingContext(std::string_view distinguishedName) {
    std::string name;
    std::size_t at = 0;
    while (at <= distinguishedName.size()) {
        const std::size_t end = std::min(distinguishedName.find(',', at), distinguishedName.size());
        const std::string_view component = distinguishedName.substr(at, end - at);
        const std::size_t equals = component.find('=');
        if (equals != std::string_view::npos &&
            AsciiLowerCase(Trimmed(component.substr(0, equals))) == "dc") {
            const std::string label = Trimmed(component.substr(equals + 1));
            if (!label.empty()) {
                name += (name.empty() ? "" : ".") + label;
            }
        }
        at = end + 1;
    }
    return name.empty() ? std::nullopt : std::optional(name);
}

} // namespace quindral
