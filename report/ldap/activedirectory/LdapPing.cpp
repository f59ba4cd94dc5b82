#include "report/ldap/activedirectory/LdapPing.h"

#include "report/ldap/plumbing/Ber.h"
#include "report/ldap/plumbing/Text.h"

namespace quindral {

namespace {

using namespace ber;

// The LDAP elements a ping and its reply are made of, beyond BER's own.
constexpr unsigned char kSearchRequest = 0x63;     // [APPLICATION 3]
constexpr unsigned char kSearchResultEntry = 0x64; // [APPLICATION 4]
constexpr unsigned char kAndFilter = 0xA0;         // [0]
constexpr unsigned char kEqualityMatch = 0xA3;     // [3]

constexpr std::uint16_t kLogonResponseEx = 23;
constexpr std::uint16_t kUserUnknownEx = 25;
// Opcode, Sbz, Flags, DomainGuid; then the names.
constexpr std::size_t kFixedHead = 2 + 2 + 4 + 16;
// NtVersion, LmNtToken, Lm20Token.
constexpr std::size_t kFixedTail = 4 + 2 + 2;
constexpr std::size_t kMaxDnsName = 255;

std::string LittleEndian32(std::uint32_t value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
            static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
}

std::string Equality(std::string_view attribute, std::string_view value) {
    return Element(kEqualityMatch, Element(kOctetString, attribute) + Element(kOctetString, value));
}

// The first value of the attribute in a search result entry's content, when it has one.
std::optional<std::string_view> AttributeValue(std::string_view entry, std::string_view name) {
    Reader reader(entry);
    std::string_view objectName;
    std::string_view attributes;
    if (!reader.Expect(kOctetString, objectName) || !reader.Expect(kSequence, attributes)) {
        return std::nullopt;
    }
    Reader list(attributes);
    while (!list.Empty()) {
        std::string_view attribute;
        std::string_view type;
        std::string_view values;
        if (!list.Expect(kSequence, attribute)) {
            return std::nullopt;
        }
        Reader parts(attribute);
        if (!parts.Expect(kOctetString, type) || !parts.Expect(kSet, values)) {
            return std::nullopt;
        }
        std::string_view value;
        if (SameName(type, name) && Reader(values).Expect(kOctetString, value)) {
            return value;
        }
    }
    return std::nullopt;
}

// Reads the fixed-size fields and the names of a Netlogon value, in order.
class NetlogonReader {
public:
    explicit NetlogonReader(std::string_view value) : value_(value) {}

    std::size_t Left() const { return value_.size() - at_; }

    template <typename Unsigned> bool Read(Unsigned& out) {
        if (Left() < sizeof(Unsigned)) {
            return false;
        }
        out = 0;
        for (std::size_t i = 0; i < sizeof(Unsigned); ++i) {
            out |= static_cast<Unsigned>(
                static_cast<Unsigned>(static_cast<unsigned char>(value_[at_ + i])) << (8 * i));
        }
        at_ += sizeof(Unsigned);
        return true;
    }

    bool ReadBytes(std::size_t count, std::uint8_t* out) {
        if (Left() < count) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<std::uint8_t>(value_[at_ + i]);
        }
        at_ += count;
        return true;
    }

    // A DNS name in labels, where a compression pointer (from the start of the value) may only
    // point back to before itself; at most 255 bytes on the wire, which alone ends a name that
    // points back into itself. The name is given in its presentation form: a dot or backslash
    // inside a label is escaped with a backslash, so that the labels can still be told apart.
    bool ReadName(std::string& name) {
        name.clear();
        std::size_t at = at_;
        std::size_t wire = 1; // the root's zero byte
        bool jumped = false;
        for (;;) {
            if (at >= value_.size()) {
                return false;
            }
            const auto length = static_cast<unsigned char>(value_[at]);
            if (length == 0) {
                if (!jumped) {
                    at_ = at + 1;
                }
                return true;
            }
            if ((length & 0xC0) == 0xC0) {
                if (at + 1 >= value_.size()) {
                    return false;
                }
                const std::size_t target = (static_cast<std::size_t>(length & 0x3F) << 8) |
                                           static_cast<unsigned char>(value_[at + 1]);
                if (target >= at) {
                    return false;
                }
                if (!jumped) {
                    at_ = at + 2;
                    jumped = true;
                }
                at = target;
                continue;
            }
            if ((length & 0xC0) != 0 || length > value_.size() - at - 1) {
                return false;
            }
            wire += 1 + length;
            if (wire > kMaxDnsName) {
                return false;
            }
            if (!name.empty()) {
                name += '.';
            }
            for (char c : value_.substr(at + 1, length)) {
                if (c == '.' || c == '\\') {
                    name += '\\';
                }
                name += c;
            }
            at += 1 + length;
        }
    }

private:
    std::string_view value_;
    std::size_t at_ = 0;
};

} // namespace

std::string EncodeLdapPing(std::int32_t messageId, std::string_view dnsDomain,
                           std::uint32_t ntVersion) {
    const std::string filter =
        Element(kAndFilter,
                Equality("DnsDomain", dnsDomain) + Equality("NtVer", LittleEndian32(ntVersion)));
    const std::string search =
        Element(kSearchRequest, Element(kOctetString, "") + Integer(0, kEnumerated) +
                                    Integer(0, kEnumerated) + Integer(0, kInteger) +
                                    Integer(0, kInteger) + Element(kBoolean, std::string(1, '\0')) +
                                    filter + Element(kSequence, Element(kOctetString, "Netlogon")));
    return Element(kSequence, Integer(messageId, kInteger) + search);
}

std::optional<NetlogonReply> ParseLdapPingReply(std::string_view datagram, std::int32_t messageId,
                                                std::uint32_t ntVersion) {
    // A DC sends the entry and the search's result in one datagram.
    Reader messages(datagram);
    while (!messages.Empty()) {
        std::string_view message;
        if (!messages.Expect(kSequence, message)) {
            return std::nullopt;
        }
        Reader parts(message);
        std::string_view id;
        unsigned char operation = 0;
        std::string_view content;
        if (!parts.Expect(kInteger, id) || !parts.Next(operation, content)) {
            return std::nullopt;
        }
        if (operation != kSearchResultEntry || IntegerValue(id) != messageId) {
            continue;
        }
        if (const auto value = AttributeValue(content, "Netlogon")) {
            return DecodeNetlogon(*value, ntVersion);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<NetlogonReply> DecodeNetlogon(std::string_view value, std::uint32_t ntVersion) {
    NetlogonReader reader(value);
    NetlogonReply reply;
    std::uint16_t sbz = 0;
    if (value.size() < kFixedHead + kFixedTail || !reader.Read(reply.opcode) ||
        (reply.opcode != kLogonResponseEx && reply.opcode != kUserUnknownEx) || !reader.Read(sbz) ||
        !reader.Read(reply.flags) ||
        !reader.ReadBytes(reply.domainGuid.size(), reply.domainGuid.data())) {
        return std::nullopt;
    }
    for (std::string* name :
         {&reply.dnsForestName, &reply.dnsDomainName, &reply.dnsHostName, &reply.netbiosDomainName,
          &reply.netbiosComputerName, &reply.userName, &reply.dcSiteName, &reply.clientSiteName}) {
        if (!reader.ReadName(*name)) {
            return std::nullopt;
        }
    }
    if (ntVersion & kNtVersion5ExWithIp) {
        std::uint8_t size = 0;
        if (!reader.Read(size)) {
            return std::nullopt;
        }
        reply.dcSockAddr.resize(size);
        if (!reader.ReadBytes(size, reply.dcSockAddr.data())) {
            return std::nullopt;
        }
    }
    // Windows DCs send the next closest site when asked; Samba's never do.
    if ((ntVersion & kNtVersionWithClosestSite) && reader.Left() > kFixedTail) {
        reply.nextClosestSiteName.emplace();
        if (!reader.ReadName(*reply.nextClosestSiteName)) {
            return std::nullopt;
        }
    }
    if (reader.Left() != kFixedTail || !reader.Read(reply.ntVersion) ||
        !reader.Read(reply.lmNtToken) || !reader.Read(reply.lm20Token)) {
        return std::nullopt;
    }
    return reply;
}

} // namespace quindral
