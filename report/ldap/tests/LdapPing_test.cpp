// The LDAP ping's reply, decoded: real replies captured from Samba 4.17 domain controllers, replies
// of the kind Windows DCs send, and malformed ones, which must give "not a reply" and never read
// past their bounds.

#include "ScriptedPing.h"
#include "SlapdServer.h"
#include "TempDirectory.h"
#include "report/ldap/LdapPing.h"

#include <gtest/gtest.h>

namespace quindral {
namespace {

std::array<std::uint8_t, 16> Guid(const std::string& text) {
    // The text form's first three fields are little-endian in the bytes.
    std::string hex;
    for (char c : text) {
        if (c != '-') {
            hex += c;
        }
    }
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < 16; ++i) {
        bytes[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    std::swap(bytes[0], bytes[3]);
    std::swap(bytes[1], bytes[2]);
    std::swap(bytes[4], bytes[5]);
    std::swap(bytes[6], bytes[7]);
    return bytes;
}

NetlogonReply Reply(std::uint16_t opcode, std::uint32_t flags, const std::string& guid,
                    std::string forest, std::string domain, std::string host,
                    std::string netbiosDomain, std::string netbiosComputer, std::string user,
                    std::string dcSite, std::string clientSite, std::vector<std::uint8_t> sockAddr,
                    std::optional<std::string> nextClosestSite, std::uint32_t ntVersion,
                    std::uint16_t lmNtToken, std::uint16_t lm20Token) {
    NetlogonReply reply;
    reply.opcode = opcode;
    reply.flags = flags;
    reply.domainGuid = Guid(guid);
    reply.dnsForestName = std::move(forest);
    reply.dnsDomainName = std::move(domain);
    reply.dnsHostName = std::move(host);
    reply.netbiosDomainName = std::move(netbiosDomain);
    reply.netbiosComputerName = std::move(netbiosComputer);
    reply.userName = std::move(user);
    reply.dcSiteName = std::move(dcSite);
    reply.clientSiteName = std::move(clientSite);
    reply.dcSockAddr = std::move(sockAddr);
    reply.nextClosestSiteName = std::move(nextClosestSite);
    reply.ntVersion = ntVersion;
    reply.lmNtToken = lmNtToken;
    reply.lm20Token = lm20Token;
    return reply;
}

struct Capture {
    const char* file; // in fixtures/netlogon, the datagram (or TCP messages) the DC sent
    std::int32_t messageId;
    std::uint32_t ntVersion; // what the ping asked for
    std::optional<NetlogonReply> reply;
};

const Capture kCaptures[] = {
    {"dc1-B-no-ntver", 29218, 0x0, std::nullopt},
    {"dc1-B-ntver0x0e-withip", 28833, 0xe,
     Reply(23, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "SiteB",
           {0x02, 0x00, 0x00, 0x00, 0x7f, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00},
           std::nullopt, 0xd, 0xffff, 0xffff)},
    {"dc1-B-ntver0x16-closestsite", 28725, 0x16,
     Reply(23, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "SiteB", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc1-B-ntver0x1e-ip-closest", 28946, 0x1e,
     Reply(23, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "SiteB",
           {0x02, 0x00, 0x00, 0x00, 0x7f, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00},
           std::nullopt, 0xd, 0xffff, 0xffff)},
    {"dc1-B-ntver0x2-v5only", 29052, 0x2, std::nullopt},
    {"dc1-B-only-ntver", 29111, 0x6,
     Reply(23, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "SiteB", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc1-B-tcp3268", 29548, 0x6,
     Reply(23, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "SiteB", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc1-B-tcp389", 29440, 0x6,
     Reply(23, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "SiteB", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc1-B-user-unknown", 29337, 0x6,
     Reply(25, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "nosuchuser",
           "Default-First-Site-Name", "SiteB", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc1-B-wrong-domain", 29278, 0x6, std::nullopt},
    {"dc1-from-127.0.0.1", 28076, 0x6,
     Reply(23, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "SiteB", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc1-from-A-siteDefault", 27770, 0x6,
     Reply(23, 0x13fd, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "Default-First-Site-Name", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc1-from-B-siteB", 27883, 0x6,
     Reply(23, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "SiteB", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc1-from-X-nosubnet", 27987, 0x6,
     Reply(23, 0x137d, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc2-from-127.0.0.1", 28617, 0x6,
     Reply(23, 0x13fc, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc2.lab.example.test", "LAB", "DC2", "", "SiteB", "SiteB", {},
           std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc2-from-A-siteDefault", 28186, 0x6,
     Reply(23, 0x137c, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc2.lab.example.test", "LAB", "DC2", "", "SiteB",
           "Default-First-Site-Name", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc2-from-B-siteB", 28399, 0x6,
     Reply(23, 0x13fc, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc2.lab.example.test", "LAB", "DC2", "", "SiteB", "SiteB", {},
           std::nullopt, 0x5, 0xffff, 0xffff)},
    {"dc2-from-X-nosubnet", 28511, 0x6,
     Reply(23, 0x137c, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc2.lab.example.test", "LAB", "DC2", "", "SiteB", "", {},
           std::nullopt, 0x5, 0xffff, 0xffff)},
    {"single-site-from-A", 12999, 0x6,
     Reply(23, 0x13fd, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "Default-First-Site-Name", {}, std::nullopt, 0x5, 0xffff, 0xffff)},
    {"single-site-from-X", 13099, 0x6,
     Reply(23, 0x13fd, "fcd04624-6890-4a95-9441-4ca87ebb7c43", "lab.example.test",
           "lab.example.test", "dc1.lab.example.test", "LAB", "DC1", "", "Default-First-Site-Name",
           "Default-First-Site-Name", {}, std::nullopt, 0x5, 0xffff, 0xffff)},

};

std::string CaptureBytes(const Capture& capture) {
    return testing::ReadFile(testing::FixturePath("netlogon") /
                             (std::string(capture.file) + ".bin"));
}

TEST(LdapPingReply, CapturedSambaRepliesGiveEveryField) {
    for (const auto& capture : kCaptures) {
        const std::string datagram = CaptureBytes(capture);
        ASSERT_FALSE(datagram.empty()) << capture.file;
        EXPECT_EQ(ParseLdapPingReply(datagram, capture.messageId, capture.ntVersion), capture.reply)
            << capture.file;
        // Only the ping's own message ID counts.
        EXPECT_EQ(ParseLdapPingReply(datagram, capture.messageId + 1, capture.ntVersion),
                  std::nullopt)
            << capture.file;
    }
}

// The length of the first BER element: the entry, which the search's result follows.
std::size_t FirstElementLength(const std::string& bytes) {
    const auto first = static_cast<unsigned char>(bytes.at(1));
    if (!(first & 0x80)) {
        return 2 + first;
    }
    std::size_t length = 0;
    for (std::size_t i = 0; i < (first & 0x7Fu); ++i) {
        length = (length << 8) | static_cast<unsigned char>(bytes.at(2 + i));
    }
    return 2 + (first & 0x7Fu) + length;
}

TEST(LdapPingReply, EveryTruncationOfTheEntryIsNotAReply) {
    for (const auto& capture : kCaptures) {
        const std::string datagram = CaptureBytes(capture);
        const std::size_t entry = FirstElementLength(datagram);
        for (std::size_t length = 0; length < datagram.size(); ++length) {
            // Once the entry is whole, the search's result that follows it is not needed.
            EXPECT_EQ(ParseLdapPingReply(std::string_view(datagram).substr(0, length),
                                         capture.messageId, capture.ntVersion),
                      length < entry ? std::nullopt : capture.reply)
                << capture.file << " cut at " << length;
        }
    }
}

// Windows DCs send the next closest site when asked, the DC's socket address with 0x8, and the
// DNS_* flags; Samba's never do.
NetlogonReply WindowsReply() {
    NetlogonReply reply = testing::DcReply("dc7.quindral.test", 0xE00013FD, "Branch", "Branch");
    reply.dcSockAddr = {0x02, 0x00, 0x00, 0x00, 0x0a, 0x01, 0x02, 0x03,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    reply.nextClosestSiteName = "Hub";
    return reply;
}

TEST(NetlogonValue, WindowsStyleFieldsAreRead) {
    const NetlogonReply windows = WindowsReply();
    const std::string value = testing::EncodeNetlogon(windows);
    EXPECT_EQ(DecodeNetlogon(value, kPingNtVersion | kNtVersion5ExWithIp), windows);

    NetlogonReply withoutNext = windows;
    withoutNext.dcSockAddr.clear();
    withoutNext.nextClosestSiteName.reset();
    EXPECT_EQ(DecodeNetlogon(testing::EncodeNetlogon(withoutNext), kPingNtVersion), withoutNext);
}

// A value made of the fixed head (opcode 23, flags, a zero GUID), the names' bytes and the tail.
std::string Value(const std::string& names, std::uint16_t opcode = 23) {
    std::string value{
        static_cast<char>(opcode & 0xFF), static_cast<char>(opcode >> 8), 0, 0, '\x80', 0, 0, 0};
    value += std::string(16, '\0') + names;
    return value + std::string("\x05\0\0\0\xff\xff\xff\xff", 8);
}

// The first name's bytes, then seven empty names.
std::string Names(const std::string& first) {
    return first + std::string(7, '\0');
}

const std::string kEightEmptyNames(8, '\0');

TEST(NetlogonValue, MalformedValuesAreNotReplies) {
    const std::string label63(63, 'a');
    std::string long256; // five labels of 63 bytes: 320 bytes on the wire
    for (int i = 0; i < 5; ++i) {
        long256 += static_cast<char>(63) + label63;
    }
    const std::pair<const char*, std::string> malformed[] = {
        {"pointer to itself", Value(Names("\xc0\x18"))},
        {"forward pointer", Value(std::string("\xc0\x1a") + "\x01x" + std::string(6, '\0'))},
        {"pointers to each other", Value(std::string("\xc0\x1a\xc0\x18") + std::string(6, '\0'))},
        {"pointer past the end", Value(Names("\xc0\xff"))},
        {"reserved label type", Value(Names("\x41x"))},
        {"label past the end", Value("\x3f"
                                     "abc")},
        {"name over 255 bytes", Value(Names(long256 + '\0'))},
        {"older layout's opcode", Value(kEightEmptyNames, 19)},
        {"another opcode", Value(kEightEmptyNames, 24)},
        {"trailing bytes", Value(kEightEmptyNames + "junk")},
        {"missing name", Value(std::string(7, '\0'))},
        {"empty", ""},
    };
    for (const auto& [name, value] : malformed) {
        EXPECT_EQ(DecodeNetlogon(value, kPingNtVersion), std::nullopt) << name;
    }
    // The same shapes, well formed: a backward pointer, the longest name, each opcode that counts.
    std::string long255;
    for (int i = 0; i < 3; ++i) {
        long255 += static_cast<char>(63) + label63;
    }
    long255 += static_cast<char>(61) + std::string(61, 'b');
    const auto pointed = DecodeNetlogon(
        Value(std::string("\x01x\0\xc0\x18", 5) + std::string(6, '\0')), kPingNtVersion);
    ASSERT_TRUE(pointed);
    EXPECT_EQ(pointed->dnsDomainName, "x");
    EXPECT_TRUE(DecodeNetlogon(Value(Names(long255 + '\0')), kPingNtVersion));
    EXPECT_TRUE(DecodeNetlogon(Value(kEightEmptyNames, 23), kPingNtVersion));
    EXPECT_TRUE(DecodeNetlogon(Value(kEightEmptyNames, 25), kPingNtVersion));
}

TEST(NetlogonValue, EveryTruncationOfAWindowsReplyIsNotAReply) {
    // Without the next closest site, whose presence only the length tells: cut by exactly its
    // bytes, a value would pass for one without it.
    NetlogonReply reply = WindowsReply();
    reply.nextClosestSiteName.reset();
    const std::string value = testing::EncodeNetlogon(reply);
    for (std::size_t length = 0; length < value.size(); ++length) {
        EXPECT_EQ(DecodeNetlogon(value.substr(0, length), kPingNtVersion | kNtVersion5ExWithIp),
                  std::nullopt)
            << length;
    }
}

} // namespace
} // namespace quindral
