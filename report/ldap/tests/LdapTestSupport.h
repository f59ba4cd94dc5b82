#pragma once

#include "ClientConfiguration.h"
#include "SlapdServer.h"
#include "TempDirectory.h"
#include "report/FetchAttributes.h"
#include "report/ldap/LdapDirectory.h"
#include "trace/LogFile.h"

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

#define QUINDRAL_NEED_LOW_PORTS()                                                                  \
    if (!::quindral::testing::CanListenOnLowPorts())                                               \
    GTEST_SKIP() << "needs the right to listen on ports 389 and 3268 (run as root, as CI does)"

} // namespace quindral::testing
