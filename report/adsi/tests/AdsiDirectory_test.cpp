#include "TempDirectory.h"
#include "report/FetchAttributes.h"
#include "report/adsi/AdsiDirectory.h"
#include "report/adsi/ComHandles.h"
#include "trace/LogFile.h"

#include <gtest/gtest.h>

namespace quindral {
namespace {

// The platform's own ADSI. Under Wine there is no "GC" provider and no domain on a machine
// without a network, so both binds fail, which is the report the run must then give.
TEST(AdsiDirectory, UnboundPathsGiveTheFailedBindReport) {
    ComApartment com;
    testing::TempDirectory dir;
    StringTextHolder pane;
    TraceSink sink(pane, LogFilePathIn(dir.path()));
    AdsiDirectory directory;
    for (const char* prefix : {"NOSUCH", "GC"}) {
        FetchAttributes(prefix, directory, sink);
        EXPECT_EQ(pane.Text(), "  namingContexts: <null>\r\n  altServer: <null>\r\n") << prefix;
    }
    EXPECT_EQ(testing::ReadFile(sink.LogFilePath()),
              "********************\r\n  namingContexts: <null>\r\n  altServer: <null>\r\n"
              "********************\r\n  namingContexts: <null>\r\n  altServer: <null>\r\n");
}

} // namespace
} // namespace quindral
