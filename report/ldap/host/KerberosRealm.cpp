#include "report/ldap/host/KerberosRealm.h"

#include "report/ldap/host/LocalFile.h"
#include "report/ldap/plumbing/Text.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <krb5.h>
#include <profile.h>
#include <sstream>
#include <vector>

// The configuration files that krb5_init_context reads (KRB5_CONFIG, else the built-in list),
// exported by every MIT libkrb5 though not declared in its public header.
extern "C" krb5_error_code krb5_get_default_config_files(char*** files);
extern "C" void krb5_free_config_files(char** files);

namespace quindral {

namespace {

// How deep includes may nest before the configuration is taken as unsafe.
constexpr int kMaxIncludeDepth = 8;

// The files of an includedir that libkrb5 reads: names of letters, digits, dashes and underscores
// alone, or ending in ".conf", and not starting with a dot.
bool ReadFromIncludeDir(const std::string& name) {
    if (name.empty() || name.front() == '.') {
        return false;
    }
    return name.ends_with(".conf") || std::all_of(name.begin(), name.end(), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '-' || c == '_';
           });
}

bool ProfileFileSafe(const std::string& path, int depth, ReadBudget& budget);

// Every name that libkrb5 would open, whatever stands there (a FIFO too): unlike sssd's folder
// (FileNamesIn in JoinedDomains.cpp), nothing is passed over for not being a regular file.
bool IncludeDirSafe(const std::string& path, int depth, ReadBudget& budget) {
    DIR* dir = ::opendir(path.c_str()); // O_DIRECTORY: never waits on what is not a folder
    if (dir == nullptr) {
        return true; // libkrb5 finds nothing there either
    }
    std::vector<std::string> names;
    bool withinBudget = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (ReadFromIncludeDir(entry->d_name)) {
            names.emplace_back(entry->d_name);
            if (names.size() > ReadBudget::kFiles) {
                withinBudget = false; // past the budget whatever the files hold
                break;
            }
        }
    }
    ::closedir(dir);
    return withinBudget && std::all_of(names.begin(), names.end(), [&](const std::string& name) {
               return ProfileFileSafe(path + "/" + name, depth + 1, budget);
           });
}

// Whether libkrb5 may read this file: absent, or a regular file within the cap whose includes are
// safe too, the whole walk within its budget. libkrb5 takes "include" and "includedir" at the
// very start of a line.
bool ProfileFileSafe(const std::string& path, int depth, ReadBudget& budget) {
    if (depth > kMaxIncludeDepth || !budget.TakeFile()) {
        return false;
    }
    const LocalFile file = ReadLocalFile(path);
    if (!file.SafeToHandOver() || !budget.TakeBytes(file.bytes.size())) {
        return false;
    }
    std::istringstream lines(file.bytes);
    for (std::string line; std::getline(lines, line);) {
        for (const std::string directive : {"include", "includedir"}) {
            if (line.size() > directive.size() && line.starts_with(directive) &&
                std::isspace(static_cast<unsigned char>(line[directive.size()])) != 0) {
                const std::string target = Trimmed(line.substr(directive.size()));
                const bool safe = directive == "include"
                                      ? ProfileFileSafe(target, depth + 1, budget)
                                      : IncludeDirSafe(target, depth, budget);
                if (!safe) {
                    return false;
                }
            }
        }
    }
    return true;
}

// Every file of the configuration as libkrb5 finds it, none of them opened by libkrb5 yet.
bool ConfigurationSafe() {
    char** files = nullptr;
    if (krb5_get_default_config_files(&files) != 0 || files == nullptr) {
        return false;
    }
    bool safe = true;
    ReadBudget budget;
    for (char** file = files; safe && *file != nullptr; ++file) {
        safe = ProfileFileSafe(*file, 0, budget);
    }
    krb5_free_config_files(files);
    return safe;
}

} // namespace

void KerberosContextFreer::operator()(_krb5_context* context) const {
    krb5_free_context(context);
}

KerberosContext MakeKerberosContext() {
    krb5_context context = nullptr;
    if (ConfigurationSafe()) {
        if (krb5_init_context(&context) != 0) {
            return nullptr;
        }
        return KerberosContext(context);
    }
    profile_t empty = nullptr;
    if (profile_init(nullptr, &empty) != 0) {
        return nullptr;
    }
    const krb5_error_code made = krb5_init_context_profile(empty, 0, &context);
    profile_release(empty);
    return made == 0 ? KerberosContext(context) : nullptr;
}

std::optional<std::string> KerberosDefaultRealm(_krb5_context* context) {
    if (context == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> realm;
    profile_t profile = nullptr;
    if (krb5_get_profile(context, &profile) == 0) {
        char* value = nullptr;
        if (profile_get_string(profile, "libdefaults", "default_realm", nullptr, nullptr, &value) ==
                0 &&
            value != nullptr) {
            realm = value;
        }
        profile_release_string(value);
        profile_release(profile);
    }
    return realm;
}

} // namespace quindral
