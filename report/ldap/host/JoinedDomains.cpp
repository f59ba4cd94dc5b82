// The evidence of a join in the host's own files: sssd's configuration through libini_config, the
// syntax of Samba's smb.conf, sssd's kdcinfo files and the host keytab through libkrb5.

#include "report/ldap/host/JoinedDomains.h"

#include "report/ldap/host/LocalFile.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <krb5.h>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <utility>

// libini_config's header declares C functions without saying so.
extern "C" {
#include <ini_configobj.h>
}

namespace quindral {

namespace {

struct ConfigFreer {
    void operator()(ini_cfgobj* config) const { ini_config_destroy(config); }
};
using Config = std::unique_ptr<ini_cfgobj, ConfigFreer>;

// A value of the configuration as text; empty when absent.
std::string Value(ini_cfgobj* config, const std::string& section, const char* name) {
    value_obj* value = nullptr;
    if (ini_get_config_valueobj(section.c_str(), name, config, INI_GET_FIRST_VALUE, &value) != 0 ||
        value == nullptr) {
        return {};
    }
    int error = 0;
    const char* text = ini_get_const_string_config_value(value, &error);
    return error == 0 && text != nullptr ? std::string(text) : std::string();
}

// A configuration parsed by libini_config from bytes this program read itself: libini_config opens
// files with no bound of its own. Null when they do not parse, which sssd takes as no
// configuration at all.
Config Parsed(std::string bytes, uint32_t errorLevel) {
    ini_cfgobj* raw = nullptr;
    if (bytes.empty() || ini_config_create(&raw) != 0) {
        return nullptr;
    }
    Config config(raw);
    ini_cfgfile* source = nullptr;
    if (ini_config_file_from_mem(bytes.data(), static_cast<uint32_t>(bytes.size()), &source) != 0) {
        return nullptr;
    }
    const int parsed =
        ini_config_parse(source, errorLevel, INI_MV1S_OVERWRITE, INI_PARSE_NOWRAP, config.get());
    ini_config_file_destroy(source);
    return parsed == 0 ? std::move(config) : nullptr;
}

// The names of a folder's regular files that pass the test, in order; none when it cannot be read.
// Regular files only, as sssd merges only those; Kerberos's includedir is listed otherwise (see
// KerberosRealm.cpp), since libkrb5 opens whatever stands under a name it takes.
std::vector<std::string> FileNamesIn(const std::string& folder,
                                     const std::function<bool(const std::string&)>& wanted) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (wanted(name) && it->is_regular_file(typeError)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A file of sssd's, read within the walk's budget: its bytes when it is a regular file that ends
// within the cap; nothing otherwise, as sssd takes nothing from a file it cannot read whole.
std::optional<std::string> WholeFile(const std::string& path, ReadBudget& budget) {
    if (!budget.TakeFile()) {
        return std::nullopt;
    }
    LocalFile file = ReadLocalFile(path);
    if (file.state != LocalFile::State::Whole || !budget.TakeBytes(file.bytes.size())) {
        return std::nullopt;
    }
    return std::move(file.bytes);
}

// Whether sssd merges a snippet: root owns it, and no one else may read or write it (mode 0600
// or 0400).
bool SnippetTrusted(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || status.st_uid != 0) {
        return false;
    }
    const auto mode = status.st_mode & 07777;
    return mode == 0600 || mode == 0400;
}

// A value as a keyword: trimmed and in lower case, as sssd compares "true" or "ad".
std::string KeywordOf(ini_cfgobj* config, const std::string& section, const char* name) {
    return AsciiLowerCase(Trimmed(Value(config, section, name)));
}

} // namespace

std::vector<std::string> SssdAdDomains(const std::string& file, const std::string& snippets) {
    ReadBudget budget;
    const auto main = WholeFile(file, budget);
    Config config = main ? Parsed(*main, INI_STOP_ON_ANY) : nullptr;
    if (!config) {
        return {};
    }
    // The snippets that sssd merges in, in the order of their names: conf.d's *.conf files that
    // do not start with a dot, that root alone may read. sssd stops on one it cannot read or
    // parse, and so does this reading.
    const auto snippet = [](const std::string& name) {
        return !name.starts_with('.') && name.size() > 5 && name.ends_with(".conf");
    };
    for (const std::string& name : FileNamesIn(snippets, snippet)) {
        const std::string path = snippets + "/" + name;
        if (!SnippetTrusted(path)) {
            if (!budget.TakeFile()) {
                return {};
            }
            continue;
        }
        const auto bytes = WholeFile(path, budget);
        if (!bytes) {
            return {};
        }
        if (Trimmed(*bytes).empty()) {
            continue;
        }
        const Config part = Parsed(*bytes, INI_STOP_ON_ANY);
        ini_cfgobj* merged = nullptr;
        if (!part ||
            ini_config_merge(config.get(), part.get(), INI_MS_MERGE | INI_MV2S_OVERWRITE,
                             &merged) != 0 ||
            merged == nullptr) {
            return {};
        }
        config.reset(merged);
    }
    // The domains sssd serves, as sssd 2.x has them: those listed in [sssd] domains, in order,
    // then every other [domain/NAME] with enabled = true; enabled = false turns a listed one off.
    std::vector<std::string> names = SplitList(Value(config.get(), "sssd", "domains"));
    int count = 0;
    int error = 0;
    char** sections = ini_get_section_list(config.get(), &count, &error);
    for (int i = 0; sections != nullptr && i < count; ++i) {
        const std::string section = sections[i];
        if (!section.starts_with("domain/")) {
            continue;
        }
        const std::string name = section.substr(7);
        const std::string enabled = KeywordOf(config.get(), section, "enabled");
        const bool listed = std::find(names.begin(), names.end(), name) != names.end();
        if (enabled == "true" && !listed) {
            names.push_back(name);
        } else if (enabled == "false") {
            std::erase(names, name);
        }
    }
    ini_free_section_list(sections);
    std::vector<std::string> domains;
    for (const std::string& name : names) {
        const std::string section = "domain/" + name;
        if (KeywordOf(config.get(), section, "id_provider") != "ad") {
            continue;
        }
        const std::string adDomain = Trimmed(Value(config.get(), section, "ad_domain"));
        domains.push_back(adDomain.empty() ? name : adDomain);
    }
    return domains;
}

namespace {

// How deep smb.conf's includes may nest.
constexpr int kMaxSambaIncludeDepth = 10;

// What smb.conf's [global] section says of a join, as Samba reads the file: an included file's
// lines stand where its include does.
struct SambaGlobals {
    std::string security;
    std::string realm;
    bool global = true;    // parameters before any section are global
    bool registry = false; // the configuration lives in the registry, not in the file
};

void ReadSambaFile(const std::string& path, SambaGlobals& globals, int depth) {
    std::istringstream in(ReadLocalFile(path).bytes);
    std::string line;
    for (std::string part; !globals.registry && std::getline(in, part);) {
        if (!part.empty() && part.back() == '\r') {
            part.pop_back();
        }
        if (!part.empty() && part.back() == '\\') {
            line += part.substr(0, part.size() - 1);
            continue;
        }
        line += part;
        const std::string text = Trimmed(std::exchange(line, {}));
        if (text.empty() || text.front() == '#' || text.front() == ';') {
            continue;
        }
        if (text.front() == '[') {
            const auto close = text.find(']');
            std::string section = AsciiLowerCase(text.substr(1, close - 1));
            section.erase(std::remove(section.begin(), section.end(), ' '), section.end());
            globals.global = section == "global";
            continue;
        }
        const auto equals = text.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = AsciiLowerCase(text.substr(0, equals));
        key.erase(std::remove_if(key.begin(), key.end(),
                                 [](unsigned char c) { return std::isspace(c) != 0; }),
                  key.end());
        const std::string value = Trimmed(text.substr(equals + 1));
        if (key == "include") {
            // `include = registry` adds the registry's settings, which only Samba's own tools
            // read: what the file says stands, as testparm shows it where the registry is silent.
            if (!SameName(value, "registry") && depth < kMaxSambaIncludeDepth &&
                value.find('%') == std::string::npos) {
                ReadSambaFile(value, globals, depth + 1);
            }
        } else if (!globals.global) {
            continue;
        } else if (key == "configbackend") {
            // Samba drops what it read so far and reads the registry alone.
            globals.registry = AsciiLowerCase(value) == "registry";
        } else if (key == "security") {
            globals.security = AsciiLowerCase(value);
        } else if (key == "realm") {
            globals.realm = value;
        }
    }
}

} // namespace

std::vector<std::string> SambaAdsRealm(const std::string& file) {
    SambaGlobals globals;
    ReadSambaFile(file, globals, 0);
    if (globals.registry || globals.security != "ads" || globals.realm.empty()) {
        return {};
    }
    return {globals.realm};
}

namespace {

// Whether libkrb5 may read the keytab it is to read: a file keytab (FILE:, WRFILE: or a bare path)
// must be absent or a regular file within the cap; the other kinds read no file.
bool KeytabSafe(const std::string& name) {
    std::string path = name;
    for (const std::string prefix : {"FILE:", "WRFILE:"}) {
        if (name.starts_with(prefix)) {
            path = name.substr(prefix.size());
        }
    }
    const bool file = path != name || name.find(':') == std::string::npos || name.front() == '/';
    return !file || LookAtLocalFile(path).SafeToHandOver();
}

} // namespace

std::vector<std::string> HostKeytabRealms(krb5_context context) {
    char name[1024] = {};
    if (context == nullptr || krb5_kt_default_name(context, name, sizeof name) != 0 ||
        !KeytabSafe(name)) {
        return {};
    }
    std::vector<std::string> realms;
    krb5_keytab keytab = nullptr;
    krb5_kt_cursor cursor{};
    if (krb5_kt_resolve(context, name, &keytab) == 0) {
        if (krb5_kt_start_seq_get(context, keytab, &cursor) == 0) {
            krb5_keytab_entry entry{};
            while (krb5_kt_next_entry(context, keytab, &entry, &cursor) == 0) {
                const krb5_data* realm = krb5_princ_realm(context, entry.principal);
                if (realm != nullptr && realm->length > 0) {
                    std::string realmName(realm->data, realm->length);
                    if (std::find(realms.begin(), realms.end(), realmName) == realms.end()) {
                        realms.push_back(std::move(realmName));
                    }
                }
                krb5_free_keytab_entry_contents(context, &entry);
            }
            krb5_kt_end_seq_get(context, keytab, &cursor);
        }
        krb5_kt_close(context, keytab);
    }
    return realms;
}

std::vector<std::string> SssdKdcinfoRealms(const std::string& folder) {
    std::vector<std::string> realms = FileNamesIn(folder, [](const std::string& name) {
        return name.starts_with("kdcinfo.") && name.size() > 8;
    });
    for (std::string& realm : realms) {
        realm.erase(0, 8);
    }
    return realms;
}

HostFiles SystemHostFiles() {
    return {"/etc/sssd/sssd.conf", "/etc/sssd/conf.d", "/var/lib/sss/pubconf",
            "/etc/samba/smb.conf"};
}

std::vector<std::string> JoinedDomains(const HostFiles& files, krb5_context kerberos) {
    auto domains = SssdAdDomains(files.sssdConf, files.sssdSnippets);
    for (auto&& more : {SambaAdsRealm(files.smbConf), HostKeytabRealms(kerberos)}) {
        domains.insert(domains.end(), more.begin(), more.end());
    }
    return domains;
}

} // namespace quindral
