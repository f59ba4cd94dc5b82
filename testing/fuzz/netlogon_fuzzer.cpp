// libFuzzer target: the LDAP ping's reply as a domain controller, or anyone on the network, may
// send it. Invariants: a reply decodes only with an opcode that counts and names that fit a DNS
// name; a site name goes into a DNS query only as one clean label; and a datagram never decodes to
// anything but what its own Netlogon value decodes to.

#include "BerBuilder.h"
#include "report/ldap/activedirectory/ActiveDirectoryRecords.h"
#include "report/ldap/activedirectory/LdapPing.h"
#include "report/ldap/activedirectory/SiteSelection.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The bytes of a name less the backslashes that escape a dot or backslash inside a label.
std::size_t UnescapedLength(const std::string& name) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < name.size(); ++i, ++length) {
        i += name[i] == '\\' ? 1 : 0;
    }
    return length;
}

// What holds of any decoded reply: its names fit in a DNS name, and a site to look up can go
// into one as a label.
void CheckReply(const quindral::NetlogonReply& reply) {
    for (const std::string* name : {&reply.dnsForestName, &reply.dnsDomainName, &reply.dnsHostName,
                                    &reply.dcSiteName, &reply.clientSiteName}) {
        Require(UnescapedLength(*name) <= 253);
    }
    if (const auto site = quindral::SiteToLookUp(reply)) {
        Require(quindral::IsSiteLabel(*site));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    // The last byte: which of the NtVer bits the ping asked for. The rest: a Netlogon value, and
    // a datagram (so that captured replies seed it as they are, less their last byte).
    const std::uint32_t ntVersion = quindral::kNtVersion5Ex | (data[size - 1] & 0x1A);
    const std::string rest(reinterpret_cast<const char*>(data), size - 1);
    const auto decoded = quindral::DecodeNetlogon(rest, ntVersion);
    if (decoded) {
        CheckReply(*decoded);
    }
    // The same bytes as the Netlogon value of a DC's reply to message 7: exactly what they decode
    // to alone.
    const std::string datagram =
        quindral::testing::RootDseReply(7, {{"netlogon", {rest}}, {"other", {"x"}}});
    Require(quindral::ParseLdapPingReply(datagram, 7, ntVersion) == decoded);
    // The same bytes as a datagram: the entry must be for message 1.
    if (const auto reply = quindral::ParseLdapPingReply(rest, 1, ntVersion)) {
        CheckReply(*reply);
    }
    return 0;
}
