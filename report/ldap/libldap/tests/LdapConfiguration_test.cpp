#include "TempDirectory.h"
#include "report/ldap/libldap/LdapConfiguration.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace quindral {
namespace {

// Where the timeouts come from before libldap's first use, in libldap's order: each row's files
// (in a folder of its own, HOME among them) and variables, and the timeouts they come to.
TEST(TimeoutsBeforeFirstUse, FilesAndVariablesInLibldapsOrder) {
    using std::chrono::seconds;
    struct Row {
        const char* name;
        std::map<std::string, std::string> files; // relative to the row's folder
        std::map<std::string, std::string> environment;
        seconds connect;
        seconds search;
    };
    const Row rows[] = {
        {"nothing set", {}, {}, seconds(5), seconds(15)},
        {"the system file",
         {{"ldap.conf", "NETWORK_TIMEOUT 2\nTIMEOUT 3\n"}},
         {},
         seconds(2),
         seconds(3)},
        {"keywords in any case, comments, white space and values libldap refuses",
         {{"ldap.conf",
           "# NETWORK_TIMEOUT 9\n  network_timeout\t 2  \nTIMEOUT 0\nTIMEOUT 3s\nTIMEOUT\n"}},
         {},
         seconds(2),
         seconds(15)},
        {"the user's ldaprc over the system file",
         {{"ldap.conf", "NETWORK_TIMEOUT 2\nTIMEOUT 3\n"}, {"home/.ldaprc", "TIMEOUT 4\n"}},
         {{"HOME", "home"}},
         seconds(2),
         seconds(4)},
        {"LDAPCONF over the user's, LDAPRC over LDAPCONF",
         {{"home/.ldaprc", "TIMEOUT 4\n"},
          {"other.conf", "TIMEOUT 6\nNETWORK_TIMEOUT 7\n"},
          {"home/mine", "NETWORK_TIMEOUT 8\n"}},
         {{"HOME", "home"}, {"LDAPCONF", "other.conf"}, {"LDAPRC", "mine"}},
         seconds(8),
         seconds(6)},
        {"the variables over every file",
         {{"ldap.conf", "NETWORK_TIMEOUT 2\nTIMEOUT 3\n"}},
         {{"LDAPNETWORK_TIMEOUT", "1"}, {"LDAPTIMEOUT", "9"}},
         seconds(1),
         seconds(9)},
        {"LDAPNOINIT: the defaults",
         {{"ldap.conf", "NETWORK_TIMEOUT 2\n"}},
         {{"LDAPNOINIT", "1"}, {"LDAPTIMEOUT", "9"}},
         seconds(5),
         seconds(15)},
    };
    for (const auto& row : rows) {
        testing::TempDirectory dir;
        for (const auto& [name, text] : row.files) {
            std::filesystem::create_directories((dir.path() / name).parent_path());
            std::ofstream(dir.path() / name) << text;
        }
        std::map<std::string, std::string> environment;
        for (const auto& [name, value] : row.environment) {
            const bool path = name == "HOME" || name == "LDAPCONF";
            environment[name] = path ? (dir.path() / value).string() : value;
        }
        const auto timeouts = TimeoutsBeforeFirstUse(
            [&](const char* name) {
                const auto found = environment.find(name);
                return found != environment.end() ? found->second.c_str() : nullptr;
            },
            (dir.path() / "ldap.conf").string());
        EXPECT_EQ(timeouts.connect, row.connect) << row.name;
        EXPECT_EQ(timeouts.search, row.search) << row.name;
    }
}

} // namespace
} // namespace quindral
