// Test tool: runs one fetch run through the LDAP directory access, with the OpenLDAP client
// configuration this process was started with, and prints the report. The log file goes where the
// second argument says (default: none is kept). Tests start it in environments of their own making.

#include "report/FetchAttributes.h"
#include "report/ldap/LdapDirectory.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fetch_probe PROVIDER [LOGFILE]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    quindral::StringTextHolder pane;
    quindral::TraceSink sink(pane, argc > 2 ? argv[2] : "/dev/null");
    quindral::LdapDirectory directory;
    quindral::FetchAttributes(argv[1], directory, sink);
    const std::string report = pane.Text();
    std::fwrite(report.data(), 1, report.size(), stdout);
    return 0;
}
