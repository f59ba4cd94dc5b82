#include "report/ldap/race/PingExchange.h"

#include "report/ldap/plumbing/SocketAddress.h"

#include <cerrno>
#include <climits>
#include <random>
#include <unistd.h>

namespace quindral {

namespace {

// Domain controllers answer LDAP pings on UDP port 389, catalogs too.
constexpr std::uint16_t kPingPort = 389;
// An unanswered ping is sent once more after this long.
constexpr std::chrono::milliseconds kResendAfter{125};
// The largest datagram read; a DC's reply is a few hundred bytes.
constexpr std::size_t kMaxReply = 8192;
// The datagrams read in one step at most, so that a peer that floods the socket cannot keep the
// loop from everything else.
constexpr int kDatagramsPerStep = 8;

} // namespace

PingExchange::PingExchange(const sockaddr_storage& address, std::string_view dnsDomain,
                           Clock::time_point now, Clock::time_point expires)
    : resendAt_(now + kResendAfter), expires_(expires) {
    const sockaddr_storage peer = WithPort(address, kPingPort);
    fd_ = ::socket(peer.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    outOfDescriptors_ = fd_ < 0 && (errno == EMFILE || errno == ENFILE);
    static thread_local std::mt19937 generator{std::random_device{}()};
    messageId_ = std::uniform_int_distribution<std::int32_t>(1, INT32_MAX)(generator);
    request_ = EncodeLdapPing(messageId_, dnsDomain);
    if (fd_ < 0 ||
        ::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), AddressLength(peer)) != 0 ||
        ::send(fd_, request_.data(), request_.size(), 0) < 0) {
        progress_ = PingProgress::Gone;
    }
}

PingExchange::~PingExchange() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Clock::time_point PingExchange::WakeAt() const {
    return resent_ ? expires_ : std::min(resendAt_, expires_);
}

PingProgress PingExchange::Step(short revents, Clock::time_point now) {
    if (progress_ != PingProgress::UnderWay) {
        return progress_;
    }
    if (revents != 0) {
        progress_ = Receive();
    }
    if (progress_ == PingProgress::UnderWay && !resent_ && now >= resendAt_) {
        resent_ = true;
        if (::send(fd_, request_.data(), request_.size(), 0) < 0 && errno != EAGAIN) {
            progress_ = PingProgress::Gone;
        }
    }
    if (progress_ == PingProgress::UnderWay && now >= expires_) {
        progress_ = PingProgress::Gone;
    }
    return progress_;
}

PingProgress PingExchange::Receive() {
    for (int read = 0; read < kDatagramsPerStep; ++read) {
        char datagram[kMaxReply];
        const ssize_t got = ::recv(fd_, datagram, sizeof datagram, MSG_DONTWAIT);
        if (got < 0) {
            // Nothing more for now; any other error (the port refused the ping, or worse) ends it.
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR
                       ? PingProgress::UnderWay
                       : PingProgress::Gone;
        }
        if (auto reply = ParseLdapPingReply(
                std::string_view(datagram, static_cast<std::size_t>(got)), messageId_)) {
            reply_ = std::move(*reply);
            return PingProgress::Replied;
        }
        // Another message, or not a reply at all: the next datagram may be the one.
    }
    return PingProgress::UnderWay;
}

} // namespace quindral
