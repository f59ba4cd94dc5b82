#include "InChild.h"
#include "TempDirectory.h"
#include "Unprivileged.h"
#include "trace/LogFile.h"
#include "trace/LogTrace.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <fstream>
#include <functional>
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

// A run killed in the middle of a line leaves it cut; the next run ends that line, keeping its
// text, so that its separator starts a line of its own.
TEST_F(LogTraceTest, NewRunStartsOnALineOfItsOwnAfterACutLine) {
    const struct {
        std::string before;
        std::string ended;
    } kCases[] = {
        {"", ""},
        {"k7:kkk\r\n", "k7:kkk\r\n"},
        {"k7:kk", "k7:kk\r\n"},
        {"k7", "k7\r\n"},
        {"k7:kkk\r", "k7:kkk\r\n"},
        {"edited elsewhere\n", "edited elsewhere\n"},
    };
    for (const auto& c : kCases) {
        std::ofstream(sink.LogFilePath(), std::ios::binary | std::ios::trunc) << c.before;
        sink.LogTrace("", true);
        sink.LogTrace("line", false);
        EXPECT_EQ(Log(), c.ended + kSeparatorLine + "line\r\n") << c.before;
    }
}

TEST_F(LogTraceTest, UnwritableLogStillUpdatesThePane) {
    TraceSink nowhere(pane, LogFilePathIn(dir.path() / "missing-directory"));
    nowhere.LogTrace("", true);
    nowhere.LogTrace("shown anyway", false);
    EXPECT_EQ(pane.Text(), "shown anyway\r\n");
    EXPECT_FALSE(std::filesystem::exists(nowhere.LogFilePath()));
}

#ifndef _WIN32
TEST_F(LogTraceTest, ReadOnlyDirectoryCreatesNoLog) {
    using std::filesystem::perms;
    std::filesystem::permissions(dir.path(), perms::owner_read | perms::owner_exec |
                                                 perms::group_read | perms::group_exec |
                                                 perms::others_read | perms::others_exec);
    const auto traceTwoLines = [&] {
        sink.LogTrace("", true);
        sink.LogTrace("pane only", false);
        return pane.Text() == "pane only\r\n" && !std::filesystem::exists(sink.LogFilePath());
    };
    // Root writes into read-only directories all the same: the calls run as nobody.
    EXPECT_EQ(testing::HoldsUnprivileged(traceTwoLines), true)
        << "the pane missed its line, a log file was made, or nobody could not run the calls";
}

// Only a regular file is written to: whatever else stands where the log belongs gets no line,
// and no call waits on it. The calls run in a child that an alarm ends if one blocks.
TEST_F(LogTraceTest, LogThatIsNoRegularFileLeavesThePaneItsLinesAtOnce) {
    const auto log = sink.LogFilePath();
    const struct {
        const char* name;
        std::function<void()> make;
        bool reader;
    } kCases[] = {
        {"fifo", [&] { ASSERT_EQ(::mkfifo(log.c_str(), 0666), 0); }, false},
        {"fifo with a reader", [&] { ASSERT_EQ(::mkfifo(log.c_str(), 0666), 0); }, true},
        {"device", [&] { std::filesystem::create_symlink("/dev/null", log); }, false},
        {"folder", [&] { std::filesystem::create_directory(log); }, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log);
        c.make();
        const int reader = c.reader ? ::open(log.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        const auto shown = testing::InChildWithin(5, [&] {
            sink.LogTrace("", true);
            sink.LogTrace("pane only", false);
            return pane.Text();
        });
        EXPECT_EQ(shown, "pane only\r\n") << "nothing: a trace call blocked";
        if (reader >= 0) {
            char byte = 0;
            EXPECT_NE(::read(reader, &byte, 1), 1) << "a line went into the pipe";
            ::close(reader);
        }
    }
}
#else
// A folder's read-only attribute does not stop Windows from creating files in it, and Wine run as
// root ignores permissions: a folder where the log file would be cannot be opened for appending
// anywhere.
TEST_F(LogTraceTest, LogThatCannotBeOpenedLeavesThePaneItsLines) {
    ASSERT_TRUE(std::filesystem::create_directory(sink.LogFilePath()));
    sink.LogTrace("", true);
    sink.LogTrace("pane only", false);
    EXPECT_EQ(pane.Text(), "pane only\r\n");
    EXPECT_TRUE(std::filesystem::is_empty(sink.LogFilePath()));
}
#endif

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
