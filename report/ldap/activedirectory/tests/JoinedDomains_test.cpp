#include "TempDirectory.h"
#include "Unprivileged.h"
#include "report/ldap/activedirectory/ClientDomains.h"
#include "report/ldap/activedirectory/JoinedDomains.h"
#include "report/ldap/activedirectory/KerberosRealm.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <krb5.h>
#include <map>
#include <sys/stat.h>

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

// One host's files: what a join (or a leave) left, and the domains that come of them, with the
// host named ws1.corp.other.test and the resolver's search list corp.other.test.
struct HostCase {
    const char* name;
    std::map<std::string, std::string> files; // sssd.conf, conf.d/*.conf, smb.conf, krb5.conf
    const char* keytabPrincipal = nullptr;
    std::vector<std::string> domains;
};

TEST(JoinedDomains, RealFilesGiveTheDomainsInTheOrderOfTheirEvidence) {
    const HostCase cases[] = {
        {"realm join through sssd",
         {{"sssd.conf", kRealmdSssdConf}, {"krb5.conf", kRealmdKrb5Conf}},
         nullptr,
         {"lab.example.test", "corp.other.test"}},
        {"sssd with a plain LDAP domain, an AD one without ad_domain and one from conf.d",
         {{"sssd.conf", "[sssd]\ndomains = files, ldap.test, Ad.Test\n"
                        "[domain/ldap.test]\nid_provider = ldap\n"
                        "[domain/Ad.Test]\nid_provider = AD\n"},
          {"conf.d/10-second.conf", "[sssd]\ndomains = ldap.test, Ad.Test, two.test\n"
                                    "[domain/two.test]\nid_provider = ad\n"
                                    "ad_domain = second.example.test\n"},
          {"conf.d/.hidden.conf", "[sssd]\ndomains = hidden.test\n"}},
         nullptr,
         {"ad.test", "second.example.test", "corp.other.test"}},
        {"sssd.conf that does not parse",
         {{"sssd.conf", "[sssd\ndomains = broken.test\n"}},
         nullptr,
         {"corp.other.test"}},
        {"winbind join",
         {{"smb.conf", kWinbindSmbConf}, {"krb5.conf", kDebianTemplateKrb5Conf}},
         nullptr,
         {"corp.example.test", "corp.other.test"}},
        {"Samba without ADS",
         {{"smb.conf", "[global]\n   security = user\n   realm = NOT.JOINED\n"}},
         nullptr,
         {"corp.other.test"}},
        {"Debian's template krb5.conf alone",
         {{"krb5.conf", kDebianTemplateKrb5Conf}},
         nullptr,
         {"corp.other.test"}},
        {"a host that left: the realm stays in krb5.conf, last",
         {{"krb5.conf", kRealmdKrb5Conf}},
         nullptr,
         {"corp.other.test", "lab.example.test"}},
        {"a keytab of another realm",
         {{"krb5.conf", kRealmdKrb5Conf}},
         "WS1$@OTHER.EXAMPLE.TEST",
         {"other.example.test", "corp.other.test", "lab.example.test"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDirectory dir;
        std::filesystem::create_directories(dir.path() / "conf.d");
        for (const auto& [name, text] : c.files) {
            std::ofstream(dir.path() / name) << text;
        }
        const auto keytab = dir.path() / "krb5.keytab";
        if (c.keytabPrincipal != nullptr) {
            WriteKeytab(keytab, c.keytabPrincipal);
        }
        // libkrb5's own variables: this test's files, never the machine's.
        ::setenv("KRB5_CONFIG", (dir.path() / "krb5.conf").c_str(), 1);
        ::setenv("KRB5_KTNAME", ("FILE:" + keytab.string()).c_str(), 1);
        auto joined =
            SssdAdDomains((dir.path() / "sssd.conf").string(), (dir.path() / "conf.d").string());
        for (auto&& more :
             {SambaAdsRealm((dir.path() / "smb.conf").string()), HostKeytabRealms()}) {
            joined.insert(joined.end(), more.begin(), more.end());
        }
        EXPECT_EQ(
            DomainsToSearch(joined, KerberosDefaultRealm(), "corp.other.test", {"corp.other.test"}),
            c.domains);
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

// An smb.conf that is a FIFO nobody writes is not waited on.
TEST(JoinedDomains, SmbConfThatIsAFifoIsNotRead) {
    testing::TempDirectory dir;
    const auto fifo = dir.path() / "smb.conf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(SambaAdsRealm(fifo.string()).empty());
}

} // namespace
} // namespace quindral
