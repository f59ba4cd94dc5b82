#pragma once

#include "TestNetwork.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quindral::testing {

// One DNS question as a scripted server received it.
struct DnsQuery {
    std::uint16_t id = 0;
    std::string name; // without the trailing dot
    std::uint16_t type = 0;
    std::string question; // the question section's bytes, to echo
};

inline constexpr std::uint16_t kTypeA = 1;
inline constexpr std::uint16_t kTypeAaaa = 28;
inline constexpr std::uint16_t kTypeSrv = 33;
inline constexpr std::uint16_t kRcodeServFail = 2;
inline constexpr std::uint16_t kRcodeNxDomain = 3;

// A DNS server on port 53 (UDP and TCP) of a loopback address whose replies a test scripts byte by
// byte, to play a resolver that lies, loops, truncates, stays silent or is far away (each reply
// over UDP sent that much later, every one on its own clock). It serves for a minute at most and
// stops by itself, at the latest when the object goes. A handler that returns nothing sends no
// reply.
class ScriptedDns {
public:
    using Handler = std::function<std::optional<std::string>(const DnsQuery&, bool overTcp)>;
    explicit ScriptedDns(Handler handler, const std::string& address = kTestNameserver,
                         std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    ~ScriptedDns();
    ScriptedDns(const ScriptedDns&) = delete;
    ScriptedDns& operator=(const ScriptedDns&) = delete;

private:
    void Serve(std::chrono::steady_clock::time_point until);

    Handler handler_;
    std::chrono::milliseconds delay_;
    int udp_ = -1;
    int tcp_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Builders for the replies.
std::string DnsName(const std::string& name);
// A reply to the query with the answer records given (each built by SrvAnswer or AAnswer).
// answerCount, when given, is what the header claims instead of the true count.
std::string DnsReply(const DnsQuery& query, const std::vector<std::string>& answers,
                     std::uint16_t rcode = 0, bool truncated = false,
                     std::optional<std::uint16_t> answerCount = std::nullopt);
// An SRV record owned by the question's name, with its target given as raw name bytes.
std::string SrvAnswer(std::uint16_t priority, std::uint16_t weight, std::uint16_t port,
                      const std::string& targetBytes);
// An A or AAAA record owned by the question's name.
std::string AAnswer(const std::string& ipv4);
std::string AaaaAnswer(const std::string& ipv6);
// The domain quindral.test as a script: _ldap._tcp.dc._msdcs.quindral.test names dc1.quindral.test,
// whose IPv4 address is the one given; no name under silentZone is ever answered; every other name
// does not exist. Each query is shown to seen first, when given.
ScriptedDns::Handler OneDcDomain(const std::string& address, const std::string& silentZone,
                                 std::function<void(const DnsQuery&)> seen = {});

// Where the first answer's SRV target starts in a reply to the query.
std::size_t FirstSrvTargetOffset(const DnsQuery& query);

} // namespace quindral::testing
