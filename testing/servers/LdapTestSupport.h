#pragma once

#include "ClientConfiguration.h"
#include "SlapdServer.h"
#include "TempDirectory.h"
#include "report/FetchAttributes.h"
#include "report/ldap/LdapDirectory.h"
#include "trace/LogFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <ldap.h>
#include <sys/time.h>
#include <unistd.h>

namespace quindral::testing {

// One fetch run through the real LDAP layer into a string pane and a log file in a fresh folder.
struct ReportRun {
    TempDirectory dir;
    StringTextHolder pane;
    TraceSink sink{pane, LogFilePathIn(dir.path())};
    LdapDirectory directory;

    std::string operator()(std::string_view prefix) {
        FetchAttributes(prefix, directory, sink);
        return pane.Text();
    }
    std::string Log() const { return ReadFile(sink.LogFilePath()); }
};

inline std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

inline const std::string kFailedBindReport =
    Lines({"  namingContexts: <null>", "  altServer: <null>"});

// The reports of the two fixture root entries (ad-ldap.ldif and ad-gc.ldif).
inline const std::string kAdLdapReport = Lines({
    "Contacting LDAP://rootDSE",
    "  dnsHostName: dc1.quindral.test",
    "  serverName: CN=DC1,CN=Servers,CN=Default-First-Site-Name,CN=Sites,CN=Configuration,"
    "DC=quindral,DC=test",
    "  ldapServiceName: quindral.test:dc1$@QUINDRAL.TEST",
    "  dsServiceName: CN=NTDS Settings,CN=DC1,CN=Servers,CN=Default-First-Site-Name,CN=Sites,"
    "CN=Configuration,DC=quindral,DC=test",
    "  namingContexts: ",
    "    DC=quindral,DC=test",
    "    CN=Configuration,DC=quindral,DC=test",
    "    CN=Schema,CN=Configuration,DC=quindral,DC=test",
    "    DC=DomainDnsZones,DC=quindral,DC=test",
    "    DC=ForestDnsZones,DC=quindral,DC=test",
    "  defaultNamingContext: DC=quindral,DC=test",
    "  schemaNamingContext: CN=Schema,CN=Configuration,DC=quindral,DC=test",
    "  configurationNamingContext: CN=Configuration,DC=quindral,DC=test",
    "  altServer: ",
    "    ldap://dc2.quindral.test/",
    "    ldap://dc3.quindral.test/",
});

inline const std::string kAdGcReport = Lines({
    "Contacting GC://rootDSE",
    "  dnsHostName: gc1.quindral.test",
    "  serverName: CN=GC1,CN=Servers,CN=Default-First-Site-Name,CN=Sites,CN=Configuration,"
    "DC=quindral,DC=test",
    "  ldapServiceName: quindral.test:gc1$@QUINDRAL.TEST",
    "  dsServiceName: CN=NTDS Settings,CN=GC1,CN=Servers,CN=Default-First-Site-Name,CN=Sites,"
    "CN=Configuration,DC=quindral,DC=test",
    "  namingContexts: ",
    "    DC=quindral,DC=test",
    "    DC=child,DC=quindral,DC=test",
    "    CN=Configuration,DC=quindral,DC=test",
    "  defaultNamingContext: DC=quindral,DC=test",
    "  schemaNamingContext: CN=Schema,CN=Configuration,DC=quindral,DC=test",
    "  configurationNamingContext: CN=Configuration,DC=quindral,DC=test",
    "  altServer: ldap://gc2.quindral.test:3268/",
});

// Runs one click of the fetch probe, a process of its own (libldap reads its configuration once per
// process), with a clean environment: no HOME (so no ldaprc) and only the given variables, and the
// sanitizers' options where this process has them. What it reported, and its wait status.
inline std::string Probe(const std::string& environment, const std::string& provider,
                         int* status = nullptr) {
    std::string output;
    std::string command = "env -i PATH=/usr/bin:/bin ";
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            command += std::string(name) + "='" + value + "' ";
        }
    }
    command += environment + " " FETCH_PROBE " " + provider;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    const int ended = ::pclose(pipe);
    if (status != nullptr) {
        *status = ended;
    }
    return output;
}

inline std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find("\r\n"));
}

// A fetch run's report and how long it took.
struct TimedReport {
    std::string report;
    std::chrono::steady_clock::duration took;
};

inline TimedReport TimedFetch(std::string_view prefix) {
    ReportRun run;
    const auto start = std::chrono::steady_clock::now();
    std::string report = run(prefix);
    return {std::move(report), std::chrono::steady_clock::now() - start};
}

#define QUINDRAL_NEED_LOW_PORTS()                                                                  \
    if (!::quindral::testing::CanListenOnLowPorts())                                               \
    GTEST_SKIP() << "needs the right to listen on ports 389 and 3268 (run as root, as CI does)"

} // namespace quindral::testing
