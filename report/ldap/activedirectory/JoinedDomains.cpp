#include "report/ldap/activedirectory/JoinedDomains.h"

#include "report/ldap/plumbing/RegularFile.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>
#include <cctype>
#include <krb5.h>
#include <memory>
#include <sstream>
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

std::string Trimmed(std::string text) {
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), space));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), space).base(), text.end());
    return text;
}

} // namespace

std::vector<std::string> SssdAdDomains(const std::string& file, const std::string& snippets) {
    ini_cfgobj* raw = nullptr;
    if (ini_config_create(&raw) != 0) {
        return {};
    }
    Config config(raw);
    ini_cfgfile* source = nullptr;
    if (ini_config_file_open(file.c_str(), INI_META_NONE, &source) != 0) {
        return {};
    }
    // As sssd: a file that does not parse is no configuration at all.
    const int parsed = ini_config_parse(source, INI_STOP_ON_ANY, INI_MV1S_OVERWRITE,
                                        INI_PARSE_NOWRAP, config.get());
    ini_config_file_destroy(source);
    if (parsed != 0) {
        return {};
    }
    // The snippets that sssd merges in: conf.d's *.conf files that do not start with a dot.
    const char* patterns[] = {"^[^\\.].*\\.conf$", nullptr};
    ini_cfgobj* merged = nullptr;
    if (ini_config_augment(config.get(), snippets.c_str(), patterns, nullptr, nullptr,
                           INI_STOP_ON_NONE, INI_MV1S_OVERWRITE, INI_PARSE_NOWRAP,
                           INI_MV2S_OVERWRITE, &merged, nullptr, nullptr) == 0 &&
        merged != nullptr) {
        config.reset(merged);
    }
    std::vector<std::string> domains;
    std::string list = Value(config.get(), "sssd", "domains");
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t end = std::min(list.find(',', at), list.size());
        const std::string name = Trimmed(list.substr(at, end - at));
        at = end + 1;
        const std::string section = "domain/" + name;
        if (name.empty() ||
            AsciiLowerCase(Trimmed(Value(config.get(), section, "id_provider"))) != "ad") {
            continue;
        }
        const std::string adDomain = Trimmed(Value(config.get(), section, "ad_domain"));
        domains.push_back(adDomain.empty() ? name : adDomain);
    }
    return domains;
}

std::vector<std::string> SambaAdsRealm(const std::string& file) {
    std::istringstream in(RegularFileText(file));
    std::string security;
    std::string realm;
    bool global = true; // parameters before any section are global
    std::string line;
    for (std::string part; std::getline(in, part);) {
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
            global = section == "global";
            continue;
        }
        const auto equals = text.find('=');
        if (!global || equals == std::string::npos) {
            continue;
        }
        std::string key = AsciiLowerCase(text.substr(0, equals));
        key.erase(std::remove_if(key.begin(), key.end(),
                                 [](unsigned char c) { return std::isspace(c) != 0; }),
                  key.end());
        const std::string value = Trimmed(text.substr(equals + 1));
        if (key == "security") {
            security = AsciiLowerCase(value);
        } else if (key == "realm") {
            realm = value;
        }
    }
    if (security != "ads" || realm.empty()) {
        return {};
    }
    return {realm};
}

std::vector<std::string> HostKeytabRealms() {
    krb5_context context = nullptr;
    if (krb5_init_context(&context) != 0) {
        return {};
    }
    std::vector<std::string> realms;
    krb5_keytab keytab = nullptr;
    krb5_kt_cursor cursor{};
    if (krb5_kt_default(context, &keytab) == 0) {
        if (krb5_kt_start_seq_get(context, keytab, &cursor) == 0) {
            krb5_keytab_entry entry{};
            while (krb5_kt_next_entry(context, keytab, &entry, &cursor) == 0) {
                const krb5_data* realm = krb5_princ_realm(context, entry.principal);
                if (realm != nullptr && realm->length > 0) {
                    std::string name(realm->data, realm->length);
                    if (std::find(realms.begin(), realms.end(), name) == realms.end()) {
                        realms.push_back(std::move(name));
                    }
                }
                krb5_free_keytab_entry_contents(context, &entry);
            }
            krb5_kt_end_seq_get(context, keytab, &cursor);
        }
        krb5_kt_close(context, keytab);
    }
    krb5_free_context(context);
    return realms;
}

std::vector<std::string> JoinedDomains() {
    auto domains = SssdAdDomains();
    for (auto&& more : {SambaAdsRealm(), HostKeytabRealms()}) {
        domains.insert(domains.end(), more.begin(), more.end());
    }
    return domains;
}

} // namespace quindral
