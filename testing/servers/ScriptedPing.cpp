#include "ScriptedPing.h"

#include "BerBuilder.h"
#include "ScriptedDns.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace quindral::testing {

namespace {

std::string Le(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return out;
}

using Elements = ber::Reader;

// The message ID and the filter's DnsDomain and NtVer of a ping.
bool ParsePing(std::string_view datagram, ReceivedPing& ping) {
    unsigned char tag = 0;
    std::string_view message, id, search, item;
    if (!Elements(datagram).Next(tag, message) || tag != 0x30) {
        return false;
    }
    Elements parts(message);
    if (!parts.Next(tag, id) || tag != 0x02 || id.empty() || !parts.Next(tag, search) ||
        tag != 0x63) {
        return false;
    }
    ping.messageId = ber::IntegerValue(id).value_or(0);
    Elements fields(search);
    while (fields.Next(tag, item)) {
        if (tag != 0xA0) {
            continue;
        }
        Elements clauses(item);
        std::string_view clause, attribute, value;
        while (clauses.Next(tag, clause)) {
            Elements pair(clause);
            if (tag == 0xA3 && pair.Next(tag, attribute) && pair.Next(tag, value)) {
                if (attribute == "DnsDomain") {
                    ping.dnsDomain = value;
                } else if (attribute == "NtVer" && value.size() == 4) {
                    for (int i = 3; i >= 0; --i) {
                        ping.ntVersion =
                            (ping.ntVersion << 8) | static_cast<unsigned char>(value[i]);
                    }
                }
            }
        }
    }
    return true;
}

int BoundUdpSocket(const std::string& address, int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot take UDP port " + std::to_string(port) + " of " + address);
    }
    return fd;
}

} // namespace

std::string EncodeNetlogon(const NetlogonReply& reply) {
    std::string value = Le(reply.opcode, 2) + Le(0, 2) + Le(reply.flags, 4) +
                        std::string(reply.domainGuid.begin(), reply.domainGuid.end());
    for (const std::string* name :
         {&reply.dnsForestName, &reply.dnsDomainName, &reply.dnsHostName, &reply.netbiosDomainName,
          &reply.netbiosComputerName, &reply.userName, &reply.dcSiteName, &reply.clientSiteName}) {
        value += DnsName(*name);
    }
    if (!reply.dcSockAddr.empty()) {
        value += static_cast<char>(reply.dcSockAddr.size());
        value += std::string(reply.dcSockAddr.begin(), reply.dcSockAddr.end());
    }
    if (reply.nextClosestSiteName) {
        value += DnsName(*reply.nextClosestSiteName);
    }
    return value + Le(reply.ntVersion, 4) + Le(reply.lmNtToken, 2) + Le(reply.lm20Token, 2);
}

NetlogonReply DcReply(const std::string& hostName, std::uint32_t flags, const std::string& dcSite,
                      const std::string& clientSite, const std::string& forest) {
    NetlogonReply reply;
    reply.opcode = 23;
    reply.flags = flags;
    reply.domainGuid = {0x24, 0x46, 0xd0, 0xfc, 0x90, 0x68, 0x95, 0x4a,
                        0x94, 0x41, 0x4c, 0xa8, 0x7e, 0xbb, 0x7c, 0x43};
    reply.dnsForestName = forest;
    reply.dnsDomainName = hostName.substr(hostName.find('.') + 1);
    reply.dnsHostName = hostName;
    reply.netbiosDomainName = "QUINDRAL";
    reply.netbiosComputerName = "DC";
    reply.dcSiteName = dcSite;
    reply.clientSiteName = clientSite;
    reply.ntVersion = 5;
    reply.lmNtToken = 0xffff;
    reply.lm20Token = 0xffff;
    return reply;
}

ScriptedPing::ScriptedPing(std::vector<Responder> responders, std::chrono::seconds lifetime)
    : responders_(std::move(responders)) {
    for (const auto& responder : responders_) {
        sockets_.push_back(BoundUdpSocket(responder.address, 389));
    }
    otherAddress_ = BoundUdpSocket("127.0.0.99", 0);
    thread_ =
        std::thread([this, until = std::chrono::steady_clock::now() + lifetime] { Serve(until); });
}

ScriptedPing::~ScriptedPing() {
    stopping_ = true;
    thread_.join();
    for (int fd : sockets_) {
        ::close(fd);
    }
    ::close(otherAddress_);
}

std::vector<ReceivedPing> ScriptedPing::Received() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void ScriptedPing::Serve(std::chrono::steady_clock::time_point until) {
    std::vector<pollfd> fds;
    for (int fd : sockets_) {
        fds.push_back(pollfd{fd, POLLIN, 0});
    }
    while (!stopping_ && std::chrono::steady_clock::now() < until) {
        if (::poll(fds.data(), fds.size(), 20) <= 0) {
            continue;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN)) {
                continue;
            }
            char buffer[2048];
            sockaddr_storage peer{};
            socklen_t length = sizeof peer;
            const ssize_t got = ::recvfrom(fds[i].fd, buffer, sizeof buffer, 0,
                                           reinterpret_cast<sockaddr*>(&peer), &length);
            ReceivedPing ping;
            if (got <= 0 ||
                !ParsePing(std::string_view(buffer, static_cast<std::size_t>(got)), ping)) {
                continue;
            }
            ping.address = responders_[i].address;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(ping);
            }
            const Answer answer = responders_[i].answer;
            if (answer == Answer::Silent) {
                continue;
            }
            const std::string reply =
                RootDseReply(answer == Answer::WrongMessageId ? ping.messageId + 1 : ping.messageId,
                             {{"netlogon", {EncodeNetlogon(responders_[i].reply)}}});
            ::sendto(answer == Answer::FromAnotherAddress ? otherAddress_ : fds[i].fd, reply.data(),
                     reply.size(), 0, reinterpret_cast<sockaddr*>(&peer), length);
        }
    }
}

} // namespace quindral::testing
