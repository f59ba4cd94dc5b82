#pragma once

#include <string>
#include <vector>

struct _krb5_context;

namespace quindral {

// What this host's own files say of a join to an Active Directory domain, read as the joining
// software reads them. Each reader takes the paths it reads; SystemHostFiles names the system's.
// Each gives nothing when its file is absent, unreadable or says nothing of a join.

// Where the files of a join are.
struct HostFiles {
    std::string sssdConf;     // sssd.conf
    std::string sssdSnippets; // the folder of its *.conf snippets
    std::string sssdPublic;   // sssd's public folder of kdcinfo files
    std::string smbConf;      // smb.conf
};
HostFiles SystemHostFiles();

// sssd's AD domains (realmd's default): sssd.conf and the snippets of its conf.d (in the order of
// their names), parsed with libini_config as sssd 2.x parses them, from bytes read without waiting:
// only snippets that root owns with mode 0600 or 0400; a file that does not end within
// kLocalFileCap, a snippet that does not parse, or files past one ReadBudget leave no
// configuration at all, as sssd then has none. The domains sssd 2.x serves: the [sssd] section's
// domains in order, then each other [domain/NAME] with enabled = true, less those with
// enabled = false; of them, those with id_provider = ad, each as its ad_domain, else as its
// section's name.
std::vector<std::string> SssdAdDomains(const std::string& file, const std::string& snippets);

// The realms a running sssd has contacted, from the names of the kdcinfo.<REALM> files it keeps
// for its Kerberos locator plugin, in the order of their names: world-readable, where sssd.conf is
// root's alone. Its own domain's and every trusted domain's alike, so they tell which of the
// realms that other evidence names is served, not which is the host's own.
std::vector<std::string> SssdKdcinfoRealms(const std::string& folder);

// Samba's realm (a `net ads join` for winbind): smb.conf's [global] realm where security = ads.
// Samba's own parser is not a public library; this reads its syntax: case and spaces in a key do
// not count, "#" and ";" start comments, a backslash at the end of a line continues it, and
// `include = FILE` reads that file where it stands (ten deep at most; a name with Samba's %
// substitutions is passed over). Only regular files are read, each up to kLocalFileCap. With
// `config backend = registry` the file is not where Samba's settings live, and it gives nothing;
// `include = registry` is passed over (the registry's settings are read by Samba's tools alone).
std::vector<std::string> SambaAdsRealm(const std::string& file);

// The realms of the host keytab's principals (KRB5_KTNAME honoured), in the order of its entries,
// each once; libkrb5's keytab functions read it through the context given (see
// MakeKerberosContext), when it is absent or a regular file within kLocalFileCap.
std::vector<std::string> HostKeytabRealms(_krb5_context* context);

// The evidence of a join of its own, in that order: sssd's domains, Samba's realm, the keytab's
// realms. Not sssd's kdcinfo realms: sssd keeps those for trusted domains too.
std::vector<std::string> JoinedDomains(const HostFiles& files, _krb5_context* kerberos);

} // namespace quindral
