#include "InChild.h"
#include "TempDirectory.h"
#include "Unprivileged.h"
#include "report/ldap/host/JoinedDomains.h"
#include "report/ldap/host/KerberosRealm.h"
#include "report/ldap/host/LocalFile.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <krb5.h>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace quindral {
namespace {

// What `realm join` (realmd with adcli) writes.
const char* const kRealmdSssdConf = R"([sssd]
domains = lab.example.test
config_file_version = 2
services = nss, pam

[domain/lab.example.test]
default_shell = /bin/bash
krb5_store_password_if_offline = True
cache_credentials = True
krb5_realm = LAB.EXAMPLE.TEST
realmd_tags = manages-system joined-with-adcli
id_provider = ad
fallback_homedir = /home/%u@%d
ad_domain = lab.example.test
use_fully_qualified_names = True
ldap_id_mapping = True
access_provider = ad
)";
const char* const kRealmdKrb5Conf = "[libdefaults]\n"
                                    "default_realm = LAB.EXAMPLE.TEST\n"
                                    "dns_lookup_realm = false\n"
                                    "rdns = false\n";
// Debian's krb5-config template, as the package installs it without an answer (its head).
const char* const kDebianTemplateKrb5Conf = "[libdefaults]\n"
                                            "\tdefault_realm = ATHENA.MIT.EDU\n"
                                            "\n"
                                            "# The following krb5.conf variables are only for "
                                            "MIT Kerberos.\n"
                                            "\tkdc_timesync = 1\n"
                                            "\tccache_type = 4\n"
                                            "\tforwardable = true\n"
                                            "\tproxiable = true\n"
                                            "\n"
                                            "[realms]\n"
                                            "\tATHENA.MIT.EDU = {\n"
                                            "\t\tkdc = kerberos.mit.edu\n"
                                            "\t\tadmin_server = kerberos.mit.edu\n"
                                            "\t}\n";
// What `net ads join` for winbind leaves, continuation line and odd spacing included.
const char* const kWinbindSmbConf = "# Samba with winbind\n"
                                    "[global]\n"
                                    "   workgroup = CORP\n"
                                    "   Security = ADS\n"
                                    "   realm = \\\n"
                                    "      CORP.EXAMPLE.TEST\n"
                                    "   winbind use default domain = yes\n"
                                    "; realm = COMMENTED.TEST\n"
                                    "[homes]\n"
                                    "   realm = SHARE.TEST\n";

// A keytab with one host principal of the realm, written by libkrb5.
void WriteKeytab(const std::filesystem::path& path, const std::string& principal) {
    krb5_context context = nullptr;
    ASSERT_EQ(krb5_init_context(&context), 0);
    krb5_keytab keytab = nullptr;
    ASSERT_EQ(krb5_kt_resolve(context, ("FILE:" + path.string()).c_str(), &keytab), 0);
    krb5_keytab_entry entry{};
    ASSERT_EQ(krb5_parse_name(context, principal.c_str(), &entry.principal), 0);
    std::uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    entry.vno = 2;
    entry.key.enctype = ENCTYPE_AES128_CTS_HMAC_SHA1_96;
    entry.key.length = sizeof key;
    entry.key.contents = key;
    EXPECT_EQ(krb5_kt_add_entry(context, keytab, &entry), 0);
    krb5_free_principal(context, entry.principal);
    krb5_kt_close(context, keytab);
    krb5_free_context(context);
}

// The text with each @DIR@ made the test's folder.
std::string InFolder(std::string text, const testing::TempDirectory& dir) {
    for (std::size_t at; (at = text.find("@DIR@")) != std::string::npos;) {
        text.replace(at, 5, dir.path().string());
    }
    return text;
}

// Files enough to take a walk past its budget of files: NAME0 to NAME<count - 1>, each holding
// the text.
std::map<std::string, std::string> ManyFiles(const std::string& name, int count,
                                             const std::string& text) {
    std::map<std::string, std::string> files;
    for (int i = 0; i < count; ++i) {
        files[name + std::to_string(i) + ".conf"] = text;
    }
    return files;
}

std::map<std::string, std::string> With(std::map<std::string, std::string> files,
                                        const std::map<std::string, std::string>& more) {
    files.insert(more.begin(), more.end());
    return files;
}

// One host's files: what a join (or a leave) left, the join's evidence that comes of them in its
// order, and Kerberos's default realm. sssd's snippets are root's alone (0600), as sssd merges
// only such, but for those named in loose (0644).
struct HostCase {
    const char* name;
    std::map<std::string, std::string> files; // sssd.conf, conf.d/*.conf, smb.conf, krb5.conf, ...
    std::vector<std::string> loose = {};
    const char* keytabPrincipal = nullptr;
    std::vector<std::string> joined = {};
    std::optional<std::string> realm = std::nullopt;
    std::vector<std::string> sssdContacted = {};
};

TEST(JoinedDomains, RealFilesGiveTheJoinsEvidenceInItsOrder) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "sssd merges only the snippets that root owns (run as root, as CI does)";
    }
    const HostCase cases[] = {
        {.name = "realm join through sssd",
         .files = {{"sssd.conf", kRealmdSssdConf}, {"krb5.conf", kRealmdKrb5Conf}},
         .joined = {"lab.example.test"},
         .realm = "LAB.EXAMPLE.TEST"},
        {.name = "sssd with a plain LDAP domain, an AD one without ad_domain and one from conf.d",
         .files = {{"sssd.conf", "[sssd]\ndomains = files, ldap.test, Ad.Test\n"
                                 "[domain/ldap.test]\nid_provider = ldap\n"
                                 "[domain/Ad.Test]\nid_provider = AD\n"},
                   {"conf.d/10-second.conf", "[sssd]\ndomains = ldap.test, Ad.Test, two.test\n"
                                             "[domain/two.test]\nid_provider = ad\n"
                                             "ad_domain = second.example.test\n"},
                   {"conf.d/.hidden.conf", "[sssd]\ndomains = hidden.test\n"}},
         .joined = {"Ad.Test", "second.example.test"}},
        {.name = "sssd.conf that does not parse",
         .files = {{"sssd.conf", "[sssd\ndomains = broken.test\n"}}},
        // sssd 2.x: enabled = true serves a domain no domains line lists; false turns one off.
        {.name = "sssd domain enabled without a domains line",
         .files = {{"sssd.conf", "[sssd]\nservices = nss\n[domain/en.test]\nid_provider = ad\n"
                                 "enabled = True\n[domain/idle.test]\nid_provider = ad\n"}},
         .joined = {"en.test"}},
        {.name = "sssd snippet that others may read, which sssd passes over",
         .files = {{"sssd.conf", kRealmdSssdConf},
                   {"conf.d/20-loose.conf", "[sssd]\ndomains = other.test\n"
                                            "[domain/other.test]\nid_provider = ad\n"}},
         .loose = {"conf.d/20-loose.conf"},
         .joined = {"lab.example.test"}},
        {.name = "sssd snippet that does not parse, on which sssd stops",
         .files = {{"sssd.conf", kRealmdSssdConf}, {"conf.d/30-broken.conf", "[sssd\n"}}},
        {.name = "sssd.conf longer than the cap, which sssd cannot read whole",
         .files = {{"sssd.conf", kRealmdSssdConf + std::string(kLocalFileCap, '#')}}},
        {.name = "more sssd snippets than a walk may read",
         .files = With(ManyFiles("conf.d/", ReadBudget::kFiles, "[nss]\n"),
                       {{"sssd.conf", kRealmdSssdConf}})},
        {.name = "krb5.conf's includedir with more files than a walk may read",
         .files = With(ManyFiles("k5.d/", ReadBudget::kFiles, "# nothing\n"),
                       {{"krb5.conf", std::string("includedir @DIR@/k5.d\n") + kRealmdKrb5Conf}})},
        {.name = "sssd domain listed but disabled",
         .files = {{"sssd.conf", "[sssd]\ndomains = off.test, on.test\n[domain/off.test]\n"
                                 "id_provider = ad\nenabled = false\n"
                                 "[domain/on.test]\nid_provider = ad\n"}},
         .joined = {"on.test"}},
        // What a running sssd leaves for anyone to read, where sssd.conf is root's alone: a file
        // for each realm it has contacted, a trusted domain's too, so none of them is the join's.
        {.name = "sssd's kdcinfo files of its realm and of a trusted one",
         .files = {{"pubconf/kdcinfo.LAB.EXAMPLE.TEST", "127.0.0.4\n"},
                   {"pubconf/kdcinfo.AMER.LAB.EXAMPLE.TEST", "127.0.0.6\n"},
                   {"pubconf/kpasswdinfo.LAB.EXAMPLE.TEST", "127.0.0.4\n"}},
         .sssdContacted = {"AMER.LAB.EXAMPLE.TEST", "LAB.EXAMPLE.TEST"}},
        {.name = "winbind join, with Debian's template krb5.conf",
         .files = {{"smb.conf", kWinbindSmbConf}, {"krb5.conf", kDebianTemplateKrb5Conf}},
         .joined = {"CORP.EXAMPLE.TEST"},
         .realm = "ATHENA.MIT.EDU"},
        {.name = "Samba without ADS",
         .files = {{"smb.conf", "[global]\n   security = user\n   realm = NOT.JOINED\n"}}},
        // Samba reads an included file where its include stands.
        {.name = "smb.conf that includes the join's settings",
         .files = {{"smb.conf", "[global]\n   workgroup = CORP\n   include = @DIR@/ads.conf\n"},
                   {"ads.conf", "   security = ads\n   realm = INC.EXAMPLE.TEST\n"}},
         .joined = {"INC.EXAMPLE.TEST"}},
        {.name = "smb.conf whose settings live in the registry",
         .files = {{"smb.conf", "[global]\n   security = ads\n   realm = STALE.TEST\n"
                                "   config backend = registry\n"}}},
        {.name = "smb.conf longer than the cap, read up to it",
         .files = {{"smb.conf", "[global]\n   security = ads\n   realm = BIG.TEST\n" +
                                    std::string(kLocalFileCap, '#')}},
         .joined = {"BIG.TEST"}},
        {.name = "a host that left: the realm stays in krb5.conf",
         .files = {{"krb5.conf", kRealmdKrb5Conf}},
         .realm = "LAB.EXAMPLE.TEST"},
        {.name = "a keytab of another realm",
         .files = {{"krb5.conf", kRealmdKrb5Conf}},
         .keytabPrincipal = "WS1$@OTHER.EXAMPLE.TEST",
         .joined = {"OTHER.EXAMPLE.TEST"},
         .realm = "LAB.EXAMPLE.TEST"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDirectory dir;
        std::filesystem::create_directories(dir.path() / "conf.d");
        std::filesystem::create_directories(dir.path() / "pubconf");
        for (const auto& [name, text] : c.files) {
            const auto path = dir.path() / name;
            std::filesystem::create_directories(path.parent_path());
            std::ofstream(path) << InFolder(text, dir);
            if (name.starts_with("conf.d/") &&
                std::find(c.loose.begin(), c.loose.end(), name) == c.loose.end()) {
                std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::owner_write);
            }
        }
        const auto keytab = dir.path() / "krb5.keytab";
        if (c.keytabPrincipal != nullptr) {
            WriteKeytab(keytab, c.keytabPrincipal);
        }
        // libkrb5's own variables: this test's files, never the machine's.
        ::setenv("KRB5_CONFIG", (dir.path() / "krb5.conf").c_str(), 1);
        ::setenv("KRB5_KTNAME", ("FILE:" + keytab.string()).c_str(), 1);
        const auto in = [&](const char* name) { return (dir.path() / name).string(); };
        const KerberosContext kerberos = MakeKerberosContext();
        EXPECT_EQ(JoinedDomains({.sssdConf = in("sssd.conf"),
                                 .sssdSnippets = in("conf.d"),
                                 .sssdPublic = in("pubconf"),
                                 .smbConf = in("smb.conf")},
                                kerberos.get()),
                  c.joined);
        EXPECT_EQ(SssdKdcinfoRealms(in("pubconf")), c.sssdContacted);
        EXPECT_EQ(KerberosDefaultRealm(kerberos.get()), c.realm);
        ::unsetenv("KRB5_CONFIG");
        ::unsetenv("KRB5_KTNAME");
    }
}

// sssd.conf is root's alone (mode 0600): a program that may not read it finds no domain in it,
// and goes on.
TEST(JoinedDomains, UnreadableSssdConfGivesNone) {
    testing::TempDirectory dir;
    const auto conf = dir.path() / "sssd.conf";
    std::ofstream(conf) << kRealmdSssdConf;
    std::filesystem::permissions(conf, std::filesystem::perms::none);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const auto read = [&] {
        return SssdAdDomains(conf.string(), (dir.path() / "conf.d").string());
    };
    EXPECT_EQ(testing::HoldsUnprivileged([&] { return read().empty(); }), true)
        << "a domain was read from a file the user cannot read";
}

// Files that would hold a reader for ever (a FIFO nobody writes, a procfs file that never ends)
// wherever the join's evidence is read, libkrb5's and libini_config's own readers included: every
// reader returns at once, and the hostile file costs nothing but its own evidence. Each row runs in
// a child that an alarm ends should a reader hang.
struct HostileCase {
    const char* name;
    std::map<std::string, std::string> files = {}; // "fifo" makes a FIFO; @DIR@ is the folder
    std::string krb5Config = "@DIR@/krb5.conf";
    std::string keytab = "FILE:@DIR@/krb5.keytab";
    std::string read; // what the readers found: sssd's domains; the realm; the keytab's realms and
                      // the count of Samba's
};

TEST(JoinedDomains, HostileFilesCostOnlyTheirOwnEvidence) {
    const std::string realm = "[libdefaults]\ndefault_realm = LAB.EXAMPLE.TEST\n";
    const HostileCase cases[] = {
        {.name = "sssd.conf a FIFO",
         .files = {{"sssd.conf", "fifo"}, {"krb5.conf", realm}},
         .read = ";LAB.EXAMPLE.TEST;0"},
        {.name = "smb.conf a FIFO",
         .files = {{"smb.conf", "fifo"}, {"krb5.conf", realm}},
         .read = ";LAB.EXAMPLE.TEST;0"},
        {.name = "a conf.d snippet a FIFO",
         .files = {{"sssd.conf", kRealmdSssdConf}, {"conf.d/10.conf", "fifo"}},
         .read = "lab.example.test,;;0"},
        {.name = "krb5.conf a FIFO", .files = {{"krb5.conf", "fifo"}}, .read = ";;0"},
        {.name = "krb5.conf a procfs file that never ends",
         .krb5Config = "/proc/self/pagemap",
         .read = ";;0"},
        {.name = "krb5.conf including a FIFO",
         .files = {{"krb5.conf", "include @DIR@/more.conf\n" + realm}, {"more.conf", "fifo"}},
         .read = ";;0"},
        {.name = "krb5.conf's includedir holding a FIFO",
         .files = {{"krb5.conf", "includedir @DIR@/conf.d\n" + realm}, {"conf.d/k5", "fifo"}},
         .read = ";;0"},
        {.name = "the keytab a FIFO, the realm still read",
         .files = {{"krb5.conf", realm}, {"krb5.keytab", "fifo"}},
         .read = ";LAB.EXAMPLE.TEST;0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDirectory dir;
        std::filesystem::create_directories(dir.path() / "conf.d");
        for (const auto& [name, text] : c.files) {
            const auto path = dir.path() / name;
            if (text == "fifo") {
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            } else {
                std::ofstream(path) << InFolder(text, dir);
            }
        }
        const auto read = testing::InChildWithin(5, [&] {
            ::setenv("KRB5_CONFIG", InFolder(c.krb5Config, dir).c_str(), 1);
            ::setenv("KRB5_KTNAME", InFolder(c.keytab, dir).c_str(), 1);
            std::string found;
            for (const auto& domain : SssdAdDomains((dir.path() / "sssd.conf").string(),
                                                    (dir.path() / "conf.d").string())) {
                found += domain + ",";
            }
            const KerberosContext kerberos = MakeKerberosContext();
            found += ";" + KerberosDefaultRealm(kerberos.get()).value_or("") + ";";
            for (const auto& realm : HostKeytabRealms(kerberos.get())) {
                found += realm + ",";
            }
            return found + std::to_string(SambaAdsRealm((dir.path() / "smb.conf").string()).size());
        });
        EXPECT_EQ(read, c.read) << "nothing: a reader hung";
    }
}

} // namespace
} // namespace quindral
