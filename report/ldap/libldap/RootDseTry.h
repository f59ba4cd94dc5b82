#pragma once

#include "report/ldap/libldap/LdapConfiguration.h"
#include "report/ldap/libldap/RootDseSearch.h"
#include "report/ldap/libldap/ServerCandidate.h"
#include "report/ldap/plumbing/PollLoop.h"

#include <optional>
#include <sys/socket.h>

namespace quindral {

enum class TryProgress { UnderWay, Failed, Answered };

// One try of one address of a server for its root entry: a connection made without blocking, the
// TLS handshake of ldaps://, the search and its reply, each step taken when poll finds the socket
// ready. It has NETWORK_TIMEOUT to be connected (the handshake included) and then TIMEOUT for the
// reply, never past the deadline. A base search finds one entry at most: a second one fails the
// try, and so does a message larger than any root entry. Whatever it opened is closed when it goes.
class RootDseTry {
public:
    RootDseTry(const ServerCandidate& server, const sockaddr_storage& address,
               ServerTimeouts timeouts, Clock::time_point deadline, Clock::time_point now);
    ~RootDseTry();
    RootDseTry(const RootDseTry&) = delete;
    RootDseTry& operator=(const RootDseTry&) = delete;

    // Failed already when the connection could not even be started.
    TryProgress Progress() const { return progress_; }
    // Failed at once because the process had no descriptor to spare.
    bool OutOfDescriptors() const { return outOfDescriptors_; }

    // The socket to wait on, and for what.
    int Fd() const;
    short Events() const { return events_; }
    // When it needs a turn even if its socket stays quiet: its expiry, or at once while the reply's
    // bytes wait inside the TLS layer, where poll cannot see them.
    Clock::time_point WakeAt(Clock::time_point now) const;

    // One step with what poll reported on the socket (0 when it reported nothing).
    TryProgress Step(short revents, Clock::time_point now);

    // The root entry, once answered.
    RootDseEntry TakeEntry() { return std::move(*entry_); }

private:
    enum class Stage { Connecting, Handshaking, Searching };

    TryProgress Connected(Clock::time_point now);
    TryProgress StepHandshake(Clock::time_point now);
    TryProgress SendSearch(Clock::time_point now);
    TryProgress ReadReply();
    bool DataBuffered() const;

    std::string uri_;
    std::string host_;
    bool tls_;
    bool local_;
    ServerTimeouts timeouts_;
    Clock::time_point deadline_;
    Clock::time_point expires_;
    Stage stage_ = Stage::Connecting;
    bool outOfDescriptors_ = false;
    int fd_ = -1;        // until connected; then libldap owns it
    LDAP* ld_ = nullptr; // once connected
    short events_ = POLLOUT;
    int messageId_ = -1;
    bool buffered_ = false;
    std::optional<RootDseEntry> entry_;
    TryProgress progress_ = TryProgress::UnderWay;
};

} // namespace quindral
