#include "report/ldap/libldap/RootDseTry.h"

#include "report/ldap/libldap/TlsHandshake.h"
#include "report/ldap/plumbing/SocketAddress.h"

#include <cerrno>
#include <lber.h>
#include <ldap.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openldap.h>
#include <unistd.h>

namespace quindral {

namespace {

// The messages read in one step at most, so that a server that never stops sending cannot keep
// the loop from its other sockets, its timers or the deadline.
constexpr int kMessagesPerStep = 8;

// The largest message taken from a server. A root entry is a few kilobytes; one that claims more
// than this is a broken or hostile server, and is not buffered.
constexpr ber_len_t kMaxMessage = 16 << 20;

struct MessageFreer {
    void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};

} // namespace

RootDseTry::RootDseTry(const ServerCandidate& server, const sockaddr_storage& address,
                       ServerTimeouts timeouts, Clock::time_point deadline, Clock::time_point now)
    : uri_(server.uri), host_(server.host), tls_(server.tls), local_(server.local),
      timeouts_(timeouts), deadline_(deadline),
      expires_(std::min(now + timeouts.connect, deadline)) {
    fd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        outOfDescriptors_ = errno == EMFILE || errno == ENFILE;
        progress_ = TryProgress::Failed;
        return;
    }
    if (address.ss_family != AF_UNIX) {
        // As libldap sets its own sockets: the TLS handshake's small records go out at once
        // rather than wait for the peer's delayed acknowledgement.
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), AddressLength(address)) == 0) {
        progress_ = Connected(now);
    } else if (errno != EINPROGRESS && errno != EAGAIN) {
        progress_ = TryProgress::Failed;
    }
}

RootDseTry::~RootDseTry() {
    if (ld_ != nullptr) {
        ldap_unbind_ext(ld_, nullptr, nullptr);
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
}

int RootDseTry::Fd() const {
    ber_socket_t fd = fd_;
    if (ld_ != nullptr) {
        ldap_get_option(ld_, LDAP_OPT_DESC, &fd);
    }
    return fd;
}

Clock::time_point RootDseTry::WakeAt(Clock::time_point now) const {
    return buffered_ ? now : expires_;
}

TryProgress RootDseTry::Step(short revents, Clock::time_point now) {
    if (progress_ != TryProgress::UnderWay) {
        return progress_;
    }
    if (revents != 0 || buffered_) {
        switch (stage_) {
        case Stage::Connecting: {
            int error = 0;
            socklen_t length = sizeof error;
            progress_ = ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0
                            ? TryProgress::Failed
                            : Connected(now);
            break;
        }
        case Stage::Handshaking:
            progress_ = StepHandshake(now);
            break;
        case Stage::Searching:
            progress_ = ReadReply();
            break;
        }
    }
    if (progress_ == TryProgress::UnderWay && now >= expires_) {
        progress_ = TryProgress::Failed;
    }
    return progress_;
}

// Hands the connected socket to libldap; then the TLS handshake of ldaps://, or the search.
TryProgress RootDseTry::Connected(Clock::time_point now) {
    if (ldap_init_fd(fd_, local_ ? LDAP_PROTO_IPC : LDAP_PROTO_TCP, uri_.c_str(), &ld_) !=
            LDAP_SUCCESS ||
        ld_ == nullptr) {
        ld_ = nullptr;
        return TryProgress::Failed;
    }
    int version = LDAP_VERSION3;
    Sockbuf* buffer = nullptr;
    ber_len_t maxMessage = kMaxMessage;
    if (ldap_set_option(ld_, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
        ldap_set_option(ld_, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) != LDAP_OPT_SUCCESS ||
        ldap_get_option(ld_, LDAP_OPT_SOCKBUF, &buffer) != LDAP_OPT_SUCCESS || buffer == nullptr ||
        ber_sockbuf_ctrl(buffer, LBER_SB_OPT_SET_MAX_INCOMING, &maxMessage) != 1) {
        return TryProgress::Failed;
    }
    if (tls_) {
        // The handshake shares the time to connect, which keeps running.
        stage_ = Stage::Handshaking;
        return StepHandshake(now);
    }
    return SendSearch(now);
}

TryProgress RootDseTry::StepHandshake(Clock::time_point now) {
    switch (StepTlsHandshake(ld_, host_)) {
    case TlsProgress::Done:
        return SendSearch(now);
    case TlsProgress::WantRead:
        events_ = POLLIN;
        return TryProgress::UnderWay;
    case TlsProgress::WantWrite:
        events_ = POLLOUT;
        return TryProgress::UnderWay;
    case TlsProgress::Failed:
        break;
    }
    return TryProgress::Failed;
}

TryProgress RootDseTry::SendSearch(Clock::time_point now) {
    const auto messageId = SendRootDseSearch(ld_);
    if (!messageId) {
        return TryProgress::Failed;
    }
    stage_ = Stage::Searching;
    events_ = POLLIN;
    messageId_ = *messageId;
    expires_ = std::min(now + timeouts_.search, deadline_);
    return TryProgress::UnderWay;
}

// Reads the messages that have arrived, one at a time, as many as one step allows.
TryProgress RootDseTry::ReadReply() {
    for (int read = 0; read < kMessagesPerStep; ++read) {
        timeval noWait{0, 0};
        LDAPMessage* raw = nullptr;
        const int type = ldap_result(ld_, messageId_, LDAP_MSG_ONE, &noWait, &raw);
        const std::unique_ptr<LDAPMessage, MessageFreer> message(raw);
        if (type == 0) {
            if (DataBuffered()) {
                continue; // part of a message was read; the rest is already here
            }
            buffered_ = false;
            return TryProgress::UnderWay;
        }
        if (type < 0 || message == nullptr) {
            return TryProgress::Failed;
        }
        if (type == LDAP_RES_SEARCH_ENTRY) {
            if (entry_) {
                return TryProgress::Failed; // a second entry for a base search
            }
            entry_ = RootDseOfEntry(ld_, message.get());
        } else if (type == LDAP_RES_SEARCH_RESULT) {
            return entry_ && SearchSucceeded(ld_, message.get()) ? TryProgress::Answered
                                                                 : TryProgress::Failed;
        }
        // Anything else (a search reference, an intermediate response) has nothing to read.
    }
    buffered_ = DataBuffered();
    return TryProgress::UnderWay;
}

// Bytes that libldap has taken from the socket (or that the TLS layer holds decrypted) and not yet
// read as a message: poll does not report them.
bool RootDseTry::DataBuffered() const {
    Sockbuf* buffer = nullptr;
    return ldap_get_option(ld_, LDAP_OPT_SOCKBUF, &buffer) == LDAP_OPT_SUCCESS &&
           buffer != nullptr && ber_sockbuf_ctrl(buffer, LBER_SB_OPT_DATA_READY, nullptr) != 0;
}

} // namespace quindral
