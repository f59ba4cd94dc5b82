#include "ScriptedDns.h"

#include <algorithm>
#include <arpa/inet.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace quindral::testing {

namespace {

std::string Be16(std::uint16_t value) {
    return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::uint16_t ReadBe16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                      static_cast<unsigned char>(bytes[at + 1]));
}

std::optional<DnsQuery> ParseQuery(const std::string& bytes) {
    if (bytes.size() < 12) {
        return std::nullopt;
    }
    DnsQuery query;
    query.id = ReadBe16(bytes, 0);
    std::size_t at = 12;
    while (at < bytes.size() && bytes[at] != 0) {
        const auto length = static_cast<unsigned char>(bytes[at]);
        if (length > 63 || at + 1 + length > bytes.size()) {
            return std::nullopt;
        }
        query.name += (query.name.empty() ? "" : ".") + bytes.substr(at + 1, length);
        at += 1 + length;
    }
    if (at + 5 > bytes.size()) {
        return std::nullopt;
    }
    query.type = ReadBe16(bytes, at + 1);
    query.question = bytes.substr(12, at + 5 - 12);
    return query;
}

sockaddr_in NameserverAddress(const std::string& address) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(53);
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    return local;
}

// A reply over UDP, and where and when it goes.
struct PendingReply {
    std::string bytes;
    sockaddr_in peer;
};

} // namespace

std::string DnsName(const std::string& name) {
    std::string bytes;
    std::size_t at = 0;
    while (at < name.size()) {
        const std::size_t end = std::min(name.find('.', at), name.size());
        bytes += static_cast<char>(end - at);
        bytes += name.substr(at, end - at);
        at = end + 1;
    }
    return bytes + '\0';
}

std::string DnsReply(const DnsQuery& query, const std::vector<std::string>& answers,
                     std::uint16_t rcode, bool truncated,
                     std::optional<std::uint16_t> answerCount) {
    const std::uint16_t flags =
        static_cast<std::uint16_t>(0x8180 | (truncated ? 0x0200 : 0) | (rcode & 0x0F));
    std::string reply = Be16(query.id) + Be16(flags) + Be16(1) +
                        Be16(answerCount.value_or(static_cast<std::uint16_t>(answers.size()))) +
                        Be16(0) + Be16(0) + query.question;
    for (const auto& answer : answers) {
        reply += answer;
    }
    return reply;
}

std::string SrvAnswer(std::uint16_t priority, std::uint16_t weight, std::uint16_t port,
                      const std::string& targetBytes) {
    const std::string data = Be16(priority) + Be16(weight) + Be16(port) + targetBytes;
    return Be16(0xC00C) + Be16(kTypeSrv) + Be16(1) + Be16(0) + Be16(60) +
           Be16(static_cast<std::uint16_t>(data.size())) + data;
}

std::string AAnswer(const std::string& ipv4) {
    in_addr address{};
    ::inet_pton(AF_INET, ipv4.c_str(), &address);
    return Be16(0xC00C) + Be16(kTypeA) + Be16(1) + Be16(0) + Be16(60) + Be16(4) +
           std::string(reinterpret_cast<const char*>(&address), 4);
}

std::string AaaaAnswer(const std::string& ipv6) {
    in6_addr address{};
    ::inet_pton(AF_INET6, ipv6.c_str(), &address);
    return Be16(0xC00C) + Be16(kTypeAaaa) + Be16(1) + Be16(0) + Be16(60) + Be16(16) +
           std::string(reinterpret_cast<const char*>(&address), 16);
}

std::size_t FirstSrvTargetOffset(const DnsQuery& query) {
    return 12 + query.question.size() + 12 + 6;
}

ScriptedDns::ScriptedDns(Handler handler, const std::string& address,
                         std::chrono::milliseconds delay)
    : handler_(std::move(handler)), delay_(delay) {
    const sockaddr_in local = NameserverAddress(address);
    udp_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    tcp_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(tcp_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(udp_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::bind(tcp_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(tcp_, 16) != 0) {
        ::close(udp_);
        ::close(tcp_);
        throw std::runtime_error("cannot serve DNS on " + address + ":53");
    }
    thread_ = std::thread([this, until = std::chrono::steady_clock::now() +
                                         std::chrono::minutes(1)] { Serve(until); });
}

ScriptedDns::~ScriptedDns() {
    stopping_ = true;
    thread_.join();
    ::close(udp_);
    ::close(tcp_);
}

void ScriptedDns::Serve(std::chrono::steady_clock::time_point until) {
    std::multimap<std::chrono::steady_clock::time_point, PendingReply> pending;
    while (!stopping_ && std::chrono::steady_clock::now() < until) {
        while (!pending.empty() && pending.begin()->first <= std::chrono::steady_clock::now()) {
            const auto& [bytes, peer] = pending.begin()->second;
            ::sendto(udp_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
                     sizeof peer);
            pending.erase(pending.begin());
        }
        int wait = 20;
        if (!pending.empty()) {
            wait = static_cast<int>(std::clamp<std::int64_t>(
                std::chrono::ceil<std::chrono::milliseconds>(pending.begin()->first -
                                                             std::chrono::steady_clock::now())
                    .count(),
                0, wait));
        }
        pollfd fds[] = {{udp_, POLLIN, 0}, {tcp_, POLLIN, 0}};
        if (::poll(fds, 2, wait) <= 0) {
            continue;
        }
        if (fds[0].revents & POLLIN) {
            char buffer[4096];
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            const ssize_t got = ::recvfrom(udp_, buffer, sizeof buffer, 0,
                                           reinterpret_cast<sockaddr*>(&peer), &length);
            const auto query = got > 0
                                   ? ParseQuery(std::string(buffer, static_cast<std::size_t>(got)))
                                   : std::nullopt;
            if (auto reply = query ? handler_(*query, false) : std::nullopt) {
                pending.emplace(std::chrono::steady_clock::now() + delay_,
                                PendingReply{std::move(*reply), peer});
            }
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(tcp_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            // One query per connection, read within a second.
            std::string bytes;
            const auto readBy = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            while (std::chrono::steady_clock::now() < readBy &&
                   (bytes.size() < 2 || bytes.size() < 2u + ReadBe16(bytes, 0))) {
                pollfd in{fd, POLLIN, 0};
                char buffer[4096];
                if (::poll(&in, 1, 20) <= 0) {
                    continue;
                }
                const ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got <= 0) {
                    break;
                }
                bytes.append(buffer, static_cast<std::size_t>(got));
            }
            const auto query = bytes.size() >= 2 ? ParseQuery(bytes.substr(2)) : std::nullopt;
            if (const auto reply = query ? handler_(*query, true) : std::nullopt) {
                const std::string framed = Be16(static_cast<std::uint16_t>(reply->size())) + *reply;
                ::send(fd, framed.data(), framed.size(), MSG_NOSIGNAL);
            }
            ::close(fd);
        }
    }
}

ScriptedDns::Handler OneDcDomain(const std::string& address, const std::string& silentZone,
                                 std::function<void(const DnsQuery&)> seen) {
    return [=](const DnsQuery& query, bool) -> std::optional<std::string> {
        if (seen) {
            seen(query);
        }
        if (query.name.ends_with(silentZone)) {
            return std::nullopt;
        }
        if (query.type == kTypeSrv && query.name == "_ldap._tcp.dc._msdcs.quindral.test") {
            return DnsReply(query, {SrvAnswer(0, 100, 389, DnsName("dc1.quindral.test"))});
        }
        if (query.name == "dc1.quindral.test") {
            return DnsReply(query, query.type == kTypeA ? std::vector{AAnswer(address)}
                                                        : std::vector<std::string>{});
        }
        return DnsReply(query, {}, kRcodeNxDomain);
    };
}

} // namespace quindral::testing
