#include "ScriptedServer.h"

#include <arpa/inet.h>
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

// The length of the BER element at the start of bytes, or 0 while it is incomplete.
std::size_t CompleteElementLength(const std::string& bytes) {
    if (bytes.size() < 2) {
        return 0;
    }
    const auto first = static_cast<unsigned char>(bytes[1]);
    std::size_t header = 2;
    std::size_t length = first;
    if (first & 0x80) {
        const std::size_t count = first & 0x7F;
        if (count == 0 || count > 4 || bytes.size() < 2 + count) {
            return 0;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8) | static_cast<unsigned char>(bytes[2 + i]);
        }
        header += count;
    }
    return bytes.size() >= header + length ? header + length : 0;
}

} // namespace

ScriptedServer::ScriptedServer(std::string address, Handler handler, bool acceptConnections,
                               std::chrono::seconds lifetime, int port)
    : address_(std::move(address)), handler_(std::move(handler)), port_(port) {
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
            handler_(fd, stopping);
            ::close(fd);
        });
    }
    for (auto& session : sessions) {
        session.join();
    }
}

std::string ReadRequest(int fd, const std::function<bool()>& stopping) {
    std::string bytes;
    while (!stopping() && CompleteElementLength(bytes) == 0) {
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
