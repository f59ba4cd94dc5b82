#pragma once

#include "report/ldap/activedirectory/Provider.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quindral {

// An Active Directory domain controller's answer to an LDAP ping: the Netlogon value of its root
// entry (NETLOGON_SAM_LOGON_RESPONSE_EX), which says what the DC is and which site the client's
// address belongs to.
struct NetlogonReply {
    std::uint16_t opcode = 0; // 23; 25 when a user named in the ping is unknown
    std::uint32_t flags = 0;  // what the DC is and offers (kDs*Flag)
    std::array<std::uint8_t, 16> domainGuid{};
    std::string dnsForestName;
    std::string dnsDomainName;
    std::string dnsHostName;
    std::string netbiosDomainName;
    std::string netbiosComputerName;
    std::string userName;
    std::string dcSiteName;
    std::string clientSiteName; // empty when no subnet of the forest holds the client's address
    std::vector<std::uint8_t> dcSockAddr;           // when the ping asked for it
    std::optional<std::string> nextClosestSiteName; // when asked for and sent (Windows DCs only)
    std::uint32_t ntVersion = 0;
    std::uint16_t lmNtToken = 0;
    std::uint16_t lm20Token = 0;

    friend bool operator==(const NetlogonReply&, const NetlogonReply&) = default;
};

// Domain controllers found through Active Directory's own records are pinged before they are
// connected to, as the Windows locator pings them: for this domain (for a global catalog, the
// forest).
struct PingPlan {
    std::string domain;
    Provider provider = Provider::Ldap;
    // The race ends at the first usable reply: all that is wanted of it is its forest's name.
    bool replyIsEnough = false;
};

inline constexpr std::uint32_t kDsGcFlag = 0x4;
inline constexpr std::uint32_t kDsClosestFlag = 0x80; // the DC covers the client's site

// NtVer bits of a ping: the reply's layout, the DC's socket address, the next closest site.
inline constexpr std::uint32_t kNtVersion5Ex = 0x4;
inline constexpr std::uint32_t kNtVersion5ExWithIp = 0x8;
inline constexpr std::uint32_t kNtVersionWithClosestSite = 0x10;
// What this program's pings ask for: V5, V5EX and the next closest site.
inline constexpr std::uint32_t kPingNtVersion = 0x16;

// The ping: an anonymous base search of the root entry for Netlogon, filtered by
// (&(DnsDomain=dnsDomain)(NtVer=ntVersion)), as one LDAPv3 message for a UDP datagram.
std::string EncodeLdapPing(std::int32_t messageId, std::string_view dnsDomain,
                           std::uint32_t ntVersion = kPingNtVersion);

// The reply that a datagram holds for the ping with this message ID and NtVer: the Netlogon value
// of its root entry, decoded. Nothing when it holds no such entry, or the value is not a reply of
// this kind; nothing malformed is read past its bounds.
std::optional<NetlogonReply> ParseLdapPingReply(std::string_view datagram, std::int32_t messageId,
                                                std::uint32_t ntVersion = kPingNtVersion);

// A Netlogon value as a DC sends it for a ping that asked with ntVersion; nothing when it is
// malformed or of another kind (an older layout, another opcode, bytes left over). Names are
// given with their labels joined by dots, and a dot or backslash inside a label escaped.
std::optional<NetlogonReply> DecodeNetlogon(std::string_view value, std::uint32_t ntVersion);

} // namespace quindral
