#include "TempDirectory.h"
#include "trace/LogFile.h"
#include "trace/LogTrace.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace quindral {
namespace {

using testing::ReadFile;
using testing::TempDirectory;

const std::string kSeparatorLine = "********************\r\n";

class LogTraceTest : public ::testing::Test {
protected:
    TempDirectory dir;
    StringTextHolder pane;
    TraceSink sink{pane, LogFilePathIn(dir.path())};

    std::string Log() const { return ReadFile(sink.LogFilePath()); }
};

TEST_F(LogTraceTest, NewRunEmptiesThePaneAndWritesOnlyTheSeparator) {
    pane.SetText("left over\r\n");
    sink.LogTrace("", true);
    EXPECT_EQ(pane.Text(), "");
    EXPECT_EQ(Log(), kSeparatorLine);

    sink.LogTrace("ignored message", true);
    EXPECT_EQ(pane.Text(), "");
    EXPECT_EQ(Log(), kSeparatorLine + kSeparatorLine);
    EXPECT_EQ(kRunSeparator, std::string(20, '*'));
}

TEST_F(LogTraceTest, LinesGoToPaneAndFileUnchangedWithCrLf) {
    sink.LogTrace("", true);
    sink.LogTrace("Contacting GC://rootDSE", false);
    sink.LogTrace("", false);
    sink.LogTrace("  first\r\n  second", false);
    const std::string lines = "Contacting GC://rootDSE\r\n\r\n  first\r\n  second\r\n";
    EXPECT_EQ(pane.Text(), lines);
    EXPECT_EQ(Log(), kSeparatorLine + lines);
}

TEST_F(LogTraceTest, TypedTextStaysInThePaneUntilTheNextRunButNeverReachesTheFile) {
    sink.LogTrace("", true);
    sink.LogTrace("one", false);
    pane.SetText(pane.Text() + "typed by the user");
    sink.LogTrace("two", false);
    EXPECT_EQ(pane.Text(), "one\r\ntyped by the usertwo\r\n");
    EXPECT_EQ(Log(), kSeparatorLine + "one\r\ntwo\r\n");

    sink.LogTrace("", true);
    EXPECT_EQ(pane.Text(), "");
}

TEST_F(LogTraceTest, ConsecutiveRunsAccumulateOldestFirst) {
    for (const char* line : {"first run", "second run"}) {
        sink.LogTrace("", true);
        sink.LogTrace(line, false);
    }
    EXPECT_EQ(pane.Text(), "second run\r\n");
    EXPECT_EQ(Log(), kSeparatorLine + "first run\r\n" + kSeparatorLine + "second run\r\n");
}

TEST_F(LogTraceTest, ExistingLogIsAppendedToNeverTruncated) {
    {
        StringTextHolder otherPane;
        TraceSink earlier(otherPane, sink.LogFilePath());
        earlier.LogTrace("", true);
        earlier.LogTrace("from an earlier start", false);
    }
    sink.LogTrace("", true);
    EXPECT_EQ(Log(), kSeparatorLine + "from an earlier start\r\n" + kSeparatorLine);
}

TEST_F(LogTraceTest, UnwritableLogStillUpdatesThePane) {
    TraceSink nowhere(pane, LogFilePathIn(dir.path() / "missing-directory"));
    nowhere.LogTrace("", true);
    nowhere.LogTrace("shown anyway", false);
    EXPECT_EQ(pane.Text(), "shown anyway\r\n");
    EXPECT_FALSE(std::filesystem::exists(nowhere.LogFilePath()));
}

TEST_F(LogTraceTest, ReadOnlyDirectoryCreatesNoLog) {
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::owner_exec);
    sink.LogTrace("", true);
    sink.LogTrace("pane only", false);
    EXPECT_EQ(pane.Text(), "pane only\r\n");
    if (std::filesystem::exists(sink.LogFilePath())) {
        GTEST_SKIP() << "running with the right to write into read-only directories (root)";
    }
}

class RefusingPane final : public TextHolder {
public:
    std::string Text() const override { throw std::runtime_error("no text"); }
    void SetText(const std::string&) override { throw std::runtime_error("refused"); }
    void AppendLine(const std::string&) override { throw std::runtime_error("refused"); }
};

TEST_F(LogTraceTest, PaneThatRefusesItsTextStillLetsTheLineReachTheFile) {
    RefusingPane refusing;
    TraceSink toFile(refusing, sink.LogFilePath());
    toFile.LogTrace("", true);
    toFile.LogTrace("file only", false);
    EXPECT_EQ(Log(), kSeparatorLine + "file only\r\n");
}

TEST(LogFilePath, SeparatorIsAlwaysAddedAndTheFileSitsBesideTheExecutable) {
    const auto sep = std::string(1, static_cast<char>(std::filesystem::path::preferred_separator));
    EXPECT_EQ(LogFilePathIn("dir").string(), "dir" + sep + "Quindral.log");
    EXPECT_EQ(LogFilePathIn("dir" + sep).string(), "dir" + sep + sep + "Quindral.log");

    const auto beside = LogFilePath();
    EXPECT_EQ(beside.filename(), "Quindral.log");
    EXPECT_TRUE(std::filesystem::exists(beside.parent_path() / "trace_tests") ||
                std::filesystem::exists(beside.parent_path() / "trace_tests.exe"));
}

} // namespace
} // namespace quindral

#ifdef _WIN32
#include "win32/WideText.h"

#include <windows.h>

namespace quindral {
namespace {

TEST_F(LogTraceTest, LogLinesAreInTheAnsiCodePageThePaneKeepsUnicode) {
    const std::string line = "  dnsHostName: dc-z\xC3\xBCrich.example";
    sink.LogTrace(line, false);
    EXPECT_EQ(pane.Text(), line + "\r\n");
    EXPECT_EQ(Log(), AnsiFromUtf8(line) + "\r\n");
    if (GetACP() == 1252) {
        EXPECT_EQ(Log(), "  dnsHostName: dc-z\xFCrich.example\r\n");
    }
}

} // namespace
} // namespace quindral
#endif
