#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

struct gnutls_certificate_credentials_st;

namespace quindral::testing {

// A TCP listener on a loopback address whose connections a test scripts byte by byte: to play a
// server that never answers, closes in the middle of a reply or sends garbage, over TLS too. It
// serves for a bounded time and stops by itself, at the latest when the object goes.
class ScriptedServer {
public:
    // A certificate and its key: the server speaks TLS, and its handler the plain bytes inside.
    struct TlsIdentity {
        std::filesystem::path certificate;
        std::filesystem::path key;
    };

    // handler(fd, stopping) runs on a thread of its own for each accepted connection; it should
    // return once stopping() turns true or a write fails. With acceptConnections false the
    // listener never accepts and its backlog is filled, so that new connections hang in their
    // handshake.
    using Handler = std::function<void(int fd, const std::function<bool()>& stopping)>;
    ScriptedServer(std::string address, Handler handler, bool acceptConnections = true,
                   std::chrono::seconds lifetime = std::chrono::seconds(60), int port = 0,
                   std::optional<TlsIdentity> tls = std::nullopt);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return port_; }
    std::string Uri() const {
        return (tls_ != nullptr ? "ldaps://" : "ldap://") + address_ + ":" + std::to_string(port_);
    }
    int connections() const { return connections_; }

private:
    void Serve(std::chrono::steady_clock::time_point until);
    void ServeOverTls(int fd, const std::function<bool()>& stopping);

    std::string address_;
    Handler handler_;
    gnutls_certificate_credentials_st* tls_ = nullptr;
    int listener_ = -1;
    int backlogFiller_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// A server that accepts the connection, reads the request and never answers: a hung server.
// port 0 takes any free port.
std::unique_ptr<ScriptedServer> SilentServer(const std::string& address, int port = 0);

// Reads what the peer sends until a complete BER element arrives, the peer closes or stopping()
// turns true. Returns the bytes read.
std::string ReadRequest(int fd, const std::function<bool()>& stopping);

// The message ID of a request; 1 when it has none that can be read.
int MessageIdOf(const std::string& request);

// A server that reads the request, answers with first(its message ID), then sends the repeated
// bytes for as long as the client takes them: a server that never stops sending.
ScriptedServer::Handler Streaming(std::function<std::string(int messageId)> first,
                                  std::string repeated);

// Writes all the bytes; false when the peer went away.
bool WriteAll(int fd, const std::string& bytes);

} // namespace quindral::testing
