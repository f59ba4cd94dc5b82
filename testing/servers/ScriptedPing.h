#pragma once

#include "report/ldap/activedirectory/LdapPing.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quindral::testing {

// The Netlogon value a domain controller sends for the reply: its names without compression,
// then DcSockAddr and NextClosestSiteName when the reply has them.
std::string EncodeNetlogon(const NetlogonReply& reply);

// A domain controller's reply of the kind Samba sends: for a DC of quindral.test in dcSite, to a
// client in clientSite, with the flags given.
NetlogonReply DcReply(const std::string& hostName, std::uint32_t flags, const std::string& dcSite,
                      const std::string& clientSite, const std::string& forest = "quindral.test");

inline constexpr std::uint32_t kWritableDcFlags = 0x137d; // PDC, GC, LDAP, DS, KDC, writable...
inline constexpr std::uint32_t kDcWithoutCatalogFlags = kWritableDcFlags & ~kDsGcFlag;

// One LDAP ping as a scripted domain controller received it.
struct ReceivedPing {
    std::string address; // where it was sent
    std::int64_t messageId = 0;
    std::string dnsDomain;
    std::uint32_t ntVersion = 0;
};

// Domain controllers that answer LDAP pings on UDP port 389 of loopback addresses, each as the
// test scripts it. They serve for a bounded time and stop by themselves, at the latest when the
// object goes.
class ScriptedPing {
public:
    enum class Answer {
        Reply,              // the reply, to the ping's message ID
        WrongMessageId,     // the reply, to another message ID
        FromAnotherAddress, // the reply, sent from an address that was not pinged
        Silent,             // nothing
    };
    struct Responder {
        std::string address;
        Answer answer;
        NetlogonReply reply;
    };

    explicit ScriptedPing(std::vector<Responder> responders,
                          std::chrono::seconds lifetime = std::chrono::seconds(60));
    ~ScriptedPing();
    ScriptedPing(const ScriptedPing&) = delete;
    ScriptedPing& operator=(const ScriptedPing&) = delete;

    std::vector<ReceivedPing> Received() const;

private:
    void Serve(std::chrono::steady_clock::time_point until);

    std::vector<Responder> responders_;
    std::vector<int> sockets_;
    int otherAddress_ = -1;
    mutable std::mutex mutex_;
    std::vector<ReceivedPing> received_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace quindral::testing
