#pragma once

#include "report/ldap/activedirectory/LdapPing.h"
#include "report/ldap/plumbing/PollLoop.h"

#include <string>
#include <string_view>
#include <sys/socket.h>

namespace quindral {

enum class PingProgress { UnderWay, Gone, Replied };

// One LDAP ping of one domain controller's address, over UDP port 389: sent on a socket of its
// own, connected so that only the pinged address can answer, and sent once more while unanswered;
// the reply for its message ID decoded. It is gone once any receive fails (the address refused it,
// or worse) and when it expires unanswered.
class PingExchange {
public:
    PingExchange(const sockaddr_storage& address, std::string_view dnsDomain, Clock::time_point now,
                 Clock::time_point expires);
    ~PingExchange();
    PingExchange(const PingExchange&) = delete;
    PingExchange& operator=(const PingExchange&) = delete;

    // Gone already when it could not be sent.
    PingProgress Progress() const { return progress_; }
    // Gone at once because the process had no descriptor to spare.
    bool OutOfDescriptors() const { return outOfDescriptors_; }

    int Fd() const { return fd_; }
    // When it needs a turn even if no datagram comes: to be sent again, or to expire.
    Clock::time_point WakeAt() const;

    // One step with what poll reported on the socket (0 when it reported nothing).
    PingProgress Step(short revents, Clock::time_point now);

    // The reply, once replied.
    NetlogonReply TakeReply() { return std::move(reply_); }

private:
    PingProgress Receive();

    int fd_ = -1;
    bool outOfDescriptors_ = false;
    std::int32_t messageId_ = 0;
    std::string request_;
    Clock::time_point resendAt_;
    bool resent_ = false;
    Clock::time_point expires_;
    NetlogonReply reply_;
    PingProgress progress_ = PingProgress::UnderWay;
};

} // namespace quindral
