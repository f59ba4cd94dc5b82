// The LDAP ping's reply, decoded: real replies captured from Samba 4.17 domain controllers, replies
// of the kind Windows DCs send, and malformed ones, which must give "not a reply" and never read
// past their bounds.

#include "ScriptedPing.h"
#include "SlapdServer.h"
#include "TempDirectory.h"
#include "report/ldap/activedirectory/LdapPing.h"
#include "report/ldap/activedirectory/SiteSelection.h"
#include "report/ldap/plumbing/Ber.h"

#include <algorithm>
#include <memory>

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

// What differs between the replies captured from the lab's two Samba DCs; the rest is the same
// in all of them.
struct Fields {
    std::uint16_t opcode = 23;
    std::uint32_t flags = 0x137d;
    std::string dc = "dc1";
    std::string user = "";
    std::string dcSite = "Default-First-Site-Name";
    std::string clientSite = "SiteB";
    std::vector<std::uint8_t> sockAddr = {};
    std::uint32_t ntVersion = 5;
};

NetlogonReply Samba(const Fields& f) {
    std::string computer = f.dc;
    std::transform(computer.begin(), computer.end(), computer.begin(), ::toupper);
    return {.opcode = f.opcode,
            .flags = f.flags,
            .domainGuid = Guid("fcd04624-6890-4a95-9441-4ca87ebb7c43"),
            .dnsForestName = "lab.example.test",
            .dnsDomainName = "lab.example.test",
            .dnsHostName = f.dc + ".lab.example.test",
            .netbiosDomainName = "LAB",
            .netbiosComputerName = computer,
            .userName = f.user,
            .dcSiteName = f.dcSite,
            .clientSiteName = f.clientSite,
            .dcSockAddr = f.sockAddr,
            .nextClosestSiteName = std::nullopt,
            .ntVersion = f.ntVersion,
            .lmNtToken = 0xffff,
            .lm20Token = 0xffff};
}

// dc1's address, 127.0.0.4, as a sockaddr_in.
const std::vector<std::uint8_t> kDc1SockAddr = {0x02, 0x00, 0x00, 0x00, 0x7f, 0x00, 0x00, 0x04,
                                                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

struct Capture {
    const char* file; // in fixtures/netlogon, the datagram (or TCP messages) the DC sent
    std::int32_t messageId;
    std::uint32_t ntVersion = 0x6; // what the ping asked for
    std::optional<NetlogonReply> reply = std::nullopt;
};

const Capture kCaptures[] = {
    {.file = "dc1-B-no-ntver", .messageId = 29218, .ntVersion = 0x0},
    {.file = "dc1-B-ntver0x0e-withip",
     .messageId = 28833,
     .ntVersion = 0xe,
     .reply = Samba({.sockAddr = kDc1SockAddr, .ntVersion = 0xd})},
    {.file = "dc1-B-ntver0x16-closestsite",
     .messageId = 28725,
     .ntVersion = 0x16,
     .reply = Samba({})},
    {.file = "dc1-B-ntver0x1e-ip-closest",
     .messageId = 28946,
     .ntVersion = 0x1e,
     .reply = Samba({.sockAddr = kDc1SockAddr, .ntVersion = 0xd})},
    {.file = "dc1-B-ntver0x2-v5only", .messageId = 29052, .ntVersion = 0x2},
    {.file = "dc1-B-only-ntver", .messageId = 29111, .reply = Samba({})},
    {.file = "dc1-B-tcp3268", .messageId = 29548, .reply = Samba({})},
    {.file = "dc1-B-tcp389", .messageId = 29440, .reply = Samba({})},
    {.file = "dc1-B-user-unknown",
     .messageId = 29337,
     .reply = Samba({.opcode = 25, .user = "nosuchuser"})},
    {.file = "dc1-B-wrong-domain", .messageId = 29278},
    {.file = "dc1-from-127.0.0.1", .messageId = 28076, .reply = Samba({})},
    {.file = "dc1-from-A-siteDefault",
     .messageId = 27770,
     .reply = Samba({.flags = 0x13fd, .clientSite = "Default-First-Site-Name"})},
    {.file = "dc1-from-B-siteB", .messageId = 27883, .reply = Samba({})},
    {.file = "dc1-from-X-nosubnet", .messageId = 27987, .reply = Samba({.clientSite = ""})},
    {.file = "dc2-from-127.0.0.1",
     .messageId = 28617,
     .reply = Samba({.flags = 0x13fc, .dc = "dc2", .dcSite = "SiteB"})},
    {.file = "dc2-from-A-siteDefault",
     .messageId = 28186,
     .reply = Samba({.flags = 0x137c,
                     .dc = "dc2",
                     .dcSite = "SiteB",
                     .clientSite = "Default-First-Site-Name"})},
    {.file = "dc2-from-B-siteB",
     .messageId = 28399,
     .reply = Samba({.flags = 0x13fc, .dc = "dc2", .dcSite = "SiteB"})},
    {.file = "dc2-from-X-nosubnet",
     .messageId = 28511,
     .reply = Samba({.flags = 0x137c, .dc = "dc2", .dcSite = "SiteB", .clientSite = ""})},
    {.file = "single-site-from-A",
     .messageId = 12999,
     .reply = Samba({.flags = 0x13fd, .clientSite = "Default-First-Site-Name"})},
    {.file = "single-site-from-X",
     .messageId = 13099,
     .reply = Samba({.flags = 0x13fd, .clientSite = "Default-First-Site-Name"})},
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

TEST(LdapPingReply, EveryTruncationOfTheEntryIsNotAReply) {
    for (const auto& capture : kCaptures) {
        const std::string datagram = CaptureBytes(capture);
        // The entry, which the search's result follows.
        const std::size_t entry = ber::CompleteElementSize(datagram);
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

// The fixed head of a value: opcode, Sbz, flags with CLOSEST, a zero GUID. The first name starts
// right after it, at offset 24.
std::string Head(std::uint16_t opcode = 23) {
    return std::string{static_cast<char>(opcode & 0xFF),
                       static_cast<char>(opcode >> 8),
                       0,
                       0,
                       '\x80',
                       0,
                       0,
                       0} +
           std::string(16, '\0');
}

// A value made of the head, the names' bytes and the tail.
std::string Value(const std::string& names, std::uint16_t opcode = 23) {
    return Head(opcode) + names + std::string("\x05\0\0\0\xff\xff\xff\xff", 8);
}

// The first name's bytes, then seven empty names.
std::string Names(const std::string& first) {
    return first + std::string(7, '\0');
}

const std::string kEightEmptyNames(8, '\0');

// Decodes a copy of the value in a buffer of exactly its size, so that the sanitizer build sees
// a read past its end.
std::optional<NetlogonReply> DecodeExactly(const std::string& value, std::uint32_t ntVersion) {
    const auto bytes = std::make_unique<char[]>(value.size());
    std::copy(value.begin(), value.end(), bytes.get());
    return DecodeNetlogon(std::string_view(bytes.get(), value.size()), ntVersion);
}

TEST(NetlogonValue, MalformedValuesAreNotReplies) {
    const std::string label63(63, 'a');
    std::string long256; // five labels of 63 bytes: 320 bytes on the wire
    for (int i = 0; i < 5; ++i) {
        long256 += static_cast<char>(63) + label63;
    }
    const std::pair<const char*, std::string> malformed[] = {
        {"pointer to itself", Value(Names("\xc0\x18"))},
        {"forward pointer", Value(std::string("\xc0\x1a") + "\x01x" + std::string(6, '\0'))},
        // A label, then a pointer back to that label's own start: only the length limit ends it.
        {"pointer cycle", Value(Names("\x01x\xc0\x18"))},
        // The last byte of the value starts a pointer whose second byte is not there.
        {"pointer past the end", Head() + std::string(7, '\0') + "\xc0"},
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
        EXPECT_EQ(DecodeExactly(value, kPingNtVersion), std::nullopt) << name;
    }
    // The same shapes, well formed: a backward pointer, the longest name, each opcode that counts.
    std::string long255;
    for (int i = 0; i < 3; ++i) {
        long255 += static_cast<char>(63) + label63;
    }
    long255 += static_cast<char>(61) + std::string(61, 'b');
    const auto pointed = DecodeExactly(
        Value(std::string("\x01x\0\xc0\x18", 5) + std::string(6, '\0')), kPingNtVersion);
    ASSERT_TRUE(pointed);
    EXPECT_EQ(pointed->dnsDomainName, "x");
    EXPECT_TRUE(DecodeExactly(Value(Names(long255 + '\0')), kPingNtVersion));
    EXPECT_TRUE(DecodeExactly(Value(kEightEmptyNames, 23), kPingNtVersion));
    EXPECT_TRUE(DecodeExactly(Value(kEightEmptyNames, 25), kPingNtVersion));
}

// A forest's name whose bytes no DNS name has decodes as it was sent, with the label boundaries
// kept, and cannot decide a catalog race.
// A name on the wire made of these labels, as they are.
std::string Labels(std::initializer_list<std::string> labels) {
    std::string wire;
    for (const auto& label : labels) {
        wire += static_cast<char>(label.size()) + label;
    }
    return wire + '\0';
}

TEST(NetlogonValue, ForestNamesThatAreNoDnsNamesAreReadButUnfit) {
    const std::pair<std::string, std::string> forests[] = {
        {Labels({"a.b", "test"}), "a\\.b.test"}, // a dot inside a label
        {Labels({"a\\b", "test"}), "a\\\\b.test"},
        {Labels({std::string("a\0b", 3), "test"}), std::string("a\0b.test", 8)},
        {Labels({"a\nb", "test"}), "a\nb.test"},
        {Labels({"a b", "test"}), "a b.test"},
    };
    for (const auto& [wire, text] : forests) {
        const auto reply = DecodeExactly(Value(wire + std::string(7, '\0')), kPingNtVersion);
        ASSERT_TRUE(reply) << text;
        EXPECT_EQ(reply->dnsForestName, text);
        NetlogonReply catalog = *reply;
        catalog.flags |= kDsGcFlag;
        EXPECT_FALSE(IsUsableReply(catalog, PingPlan{text, Provider::GlobalCatalog})) << text;
    }
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
