#include "ScriptedServer.h"

#include "report/ldap/plumbing/Ber.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace quindral::testing {

namespace {

int ListenOn(const std::string& address, int backlog, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on " + address);
    }
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    port = ntohs(local.sin_port);
    return fd;
}

} // namespace

ScriptedServer::ScriptedServer(std::string address, Handler handler, bool acceptConnections,
                               std::chrono::seconds lifetime, int port,
                               std::optional<TlsIdentity> tls)
    : address_(std::move(address)), handler_(std::move(handler)), port_(port) {
    if (tls) {
        if (gnutls_certificate_allocate_credentials(&tls_) != GNUTLS_E_SUCCESS ||
            gnutls_certificate_set_x509_key_file(tls_, tls->certificate.c_str(), tls->key.c_str(),
                                                 GNUTLS_X509_FMT_PEM) != GNUTLS_E_SUCCESS) {
            throw std::runtime_error("cannot load the certificate " + tls->certificate.string());
        }
    }
    listener_ = ListenOn(address_, acceptConnections ? 16 : 0, port_);
    if (!acceptConnections) {
        // A backlog of 0 still queues one connection; with that one queued, the kernel drops
        // further handshakes, as a host behind a black hole does.
        backlogFiller_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<uint16_t>(port_));
        ::inet_pton(AF_INET, address_.c_str(), &peer.sin_addr);
        ::connect(backlogFiller_, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
        return;
    }
    thread_ =
        std::thread([this, until = std::chrono::steady_clock::now() + lifetime] { Serve(until); });
}

ScriptedServer::~ScriptedServer() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (backlogFiller_ >= 0) {
        ::close(backlogFiller_);
    }
    ::close(listener_);
    if (tls_ != nullptr) {
        gnutls_certificate_free_credentials(tls_);
    }
}

void ScriptedServer::Serve(std::chrono::steady_clock::time_point until) {
    std::vector<std::thread> sessions;
    const std::function<bool()> stopping = [this, until] {
        return stopping_.load() || std::chrono::steady_clock::now() > until;
    };
    while (!stopping()) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 20) <= 0) {
            continue;
        }
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ++connections_;
        sessions.emplace_back([this, fd, stopping] {
            if (tls_ != nullptr) {
                ServeOverTls(fd, stopping);
            } else {
                handler_(fd, stopping);
            }
            ::close(fd);
        });
    }
    for (auto& session : sessions) {
        session.join();
    }
}

// The TLS side of one connection: the handshake, then the plain bytes relayed both ways between
// the session and the handler's end of a socket pair, until either side stops.
void ScriptedServer::ServeOverTls(int fd, const std::function<bool()>& stopping) {
    int pair[2];
    gnutls_session_t session = nullptr;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return;
    }
    std::thread handler([&] {
        handler_(pair[1], stopping);
        ::shutdown(pair[1], SHUT_RDWR);
    });
    gnutls_init(&session, GNUTLS_SERVER);
    gnutls_set_default_priority(session);
    gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, tls_);
    gnutls_transport_set_int(session, fd);
    gnutls_handshake_set_timeout(session, 5000);
    int rc;
    do {
        rc = gnutls_handshake(session);
    } while (rc < 0 && gnutls_error_is_fatal(rc) == 0);
    char buffer[16384];
    while (rc >= 0 && !stopping()) {
        pollfd fds[] = {{fd, POLLIN, 0}, {pair[0], POLLIN, 0}};
        if (gnutls_record_check_pending(session) == 0 && ::poll(fds, 2, 20) <= 0) {
            continue;
        }
        if (gnutls_record_check_pending(session) > 0 || fds[0].revents != 0) {
            const ssize_t got = gnutls_record_recv(session, buffer, sizeof buffer);
            if (got <= 0 ||
                !WriteAll(pair[0], std::string(buffer, static_cast<std::size_t>(got)))) {
                break;
            }
        }
        if (fds[1].revents != 0) {
            const ssize_t got = ::read(pair[0], buffer, sizeof buffer);
            if (got <= 0 ||
                gnutls_record_send(session, buffer, static_cast<std::size_t>(got)) < 0) {
                break;
            }
        }
    }
    // The handler's writes fail from now on, and it returns.
    ::shutdown(pair[0], SHUT_RDWR);
    handler.join();
    gnutls_deinit(session);
    ::close(pair[0]);
    ::close(pair[1]);
}

std::string ReadRequest(int fd, const std::function<bool()>& stopping) {
    std::string bytes;
    while (!stopping() && ber::CompleteElementSize(bytes) == 0) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 20) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

int MessageIdOf(const std::string& request) {
    std::string_view message;
    std::string_view id;
    ber::Reader outer(request);
    if (!outer.Expect(ber::kSequence, message)) {
        return 1;
    }
    ber::Reader parts(message);
    const auto value = parts.Expect(ber::kInteger, id) ? ber::IntegerValue(id) : std::nullopt;
    return value ? static_cast<int>(*value) : 1;
}

ScriptedServer::Handler Streaming(std::function<std::string(int messageId)> first,
                                  std::string repeated) {
    return [first, repeated](int fd, const std::function<bool()>& stopping) {
        if (!WriteAll(fd, first(MessageIdOf(ReadRequest(fd, stopping))))) {
            return;
        }
        while (!stopping() && WriteAll(fd, repeated)) {
        }
    };
}

std::unique_ptr<ScriptedServer> SilentServer(const std::string& address, int port) {
    return std::make_unique<ScriptedServer>(
        address,
        [](int fd, const auto& stopping) {
            ReadRequest(fd, stopping);
            while (!stopping()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        },
        true, std::chrono::seconds(60), port);
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace quindral::testing
