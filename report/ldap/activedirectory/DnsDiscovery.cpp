#include "report/ldap/activedirectory/DnsDiscovery.h"


#include <algorithm>
#include <memory>
#include <random>

namespace quindral {

namespace {

class PreferredSrv final : public PreferredSrvQuery {
public:
    PreferredSrv(std::size_t count,
                 std::function<void(std::size_t, std::vector<SrvRecord>)> settled)
        : answers_(count), settled_(std::move(settled)) {}

    void Answered(std::size_t index, std::vector<SrvRecord> records) {
        answers_[index] = std::move(records);
        if (!done_) {
            Settle(false);
        }
    }
    std::optional<Clock::time_point> GiveUpAt() const override {
        if (done_ || !worseHadRecordsAt_) {
            return std::nullopt;
        }
        return *worseHadRecordsAt_ + kStagger;
    }
    void GiveUp() override {
        if (!done_) {
            Settle(true);
        }
    }

private:
    // The first name with records, once every better one has answered with none (or, giving up,
    // whether they answered or not).
    void Settle(bool givingUp) {
        for (std::size_t i = 0; i < answers_.size(); ++i) {
            if (!answers_[i]) {
                if (givingUp) {
                    continue;
                }
                const bool worseHasRecords =
                    std::any_of(answers_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                answers_.end(), [](const auto& a) { return a && !a->empty(); });
                if (worseHasRecords && !worseHadRecordsAt_) {
                    worseHadRecordsAt_ = Clock::now();
                }
                return; // a better name is still unanswered
            }
            if (!answers_[i]->empty()) {
                Finish(i, std::move(*answers_[i]));
                return;
            }
        }
        Finish(answers_.size(), {});
    }
    void Finish(std::size_t index, std::vector<SrvRecord> records) {
        done_ = true;
        std::random_device seed;
        std::mt19937 generator(seed());
        const auto random = [&](std::uint32_t upTo) {
            return std::uniform_int_distribution<std::uint32_t>(0, upTo)(generator);
        };
        settled_(index, OrderSrvRecords(std::move(records), random));
    }

    std::vector<std::optional<std::vector<SrvRecord>>> answers_;
    std::function<void(std::size_t, std::vector<SrvRecord>)> settled_;
    std::optional<Clock::time_point> worseHadRecordsAt_;
    bool done_ = false;
};

} // namespace

std::shared_ptr<PreferredSrvQuery>
QueryPreferredSrv(AsyncResolver& resolver, const std::vector<std::string>& names,
                  std::function<void(std::size_t, std::vector<SrvRecord>)> settled) {
    auto query = std::make_shared<PreferredSrv>(names.size(), std::move(settled));
    for (std::size_t i = 0; i < names.size(); ++i) {
        resolver.QuerySrv(names[i], [query, i](std::vector<SrvRecord> records) {
            query->Answered(i, std::move(records));
        });
    }
    return query;
}

std::optional<SrvServers> ServersFromSrv(const std::vector<std::string>& names,
                                         Clock::time_point deadline) {
    std::optional<SrvServers> found;
    bool settled = false;
    AsyncResolver resolver;
    const auto query =
        QueryPreferredSrv(resolver, names, [&](std::size_t index, std::vector<SrvRecord> records) {
            settled = true;
            if (!records.empty()) {
                found = SrvServers{index, CandidatesOfRecords(records)};
            }
        });
    // Until settled; a better name that does not answer is given up on its wait's end.
    for (;;) {
        const auto giveUpAt = query->GiveUpAt();
        RunPollLoop(resolver, giveUpAt ? std::min(deadline, *giveUpAt) : deadline,
                    [&] { return settled || !resolver.Busy() || query->GiveUpAt() != giveUpAt; });
        if (settled || !resolver.Busy() || Clock::now() >= deadline) {
            return found;
        }
        if (giveUpAt && Clock::now() >= *giveUpAt) {
            query->GiveUp();
        }
    }
}

} // namespace quindral
