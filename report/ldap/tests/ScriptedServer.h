#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace quindral::testing {

// A TCP listener on a loopback address whose connections a test scripts byte by byte: to play a
// server that never answers, closes in the middle of a reply or sends garbage. It serves for a
// bounded time and stops by itself, at the latest when the object goes.
class ScriptedServer {
public:
    // handler(fd, stopping) runs on a thread of its own for each accepted connection; it should
    // return once stopping() turns true. With acceptConnections false the listener never accepts
    // and its backlog is filled, so that new connections hang in their handshake.
    using Handler = std::function<void(int fd, const std::function<bool()>& stopping)>;
    ScriptedServer(std::string address, Handler handler, bool acceptConnections = true,
                   std::chrono::seconds lifetime = std::chrono::seconds(60), int port = 0);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return port_; }
    std::string Uri() const { return "ldap://" + address_ + ":" + std::to_string(port_); }
    int connections() const { return connections_; }

private:
    void Serve(std::chrono::steady_clock::time_point until);

    std::string address_;
    Handler handler_;
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

// Writes all the bytes; false when the peer went away.
bool WriteAll(int fd, const std::string& bytes);

} // namespace quindral::testing
