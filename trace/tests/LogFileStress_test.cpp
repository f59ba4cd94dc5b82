// The log file under stress: programs appending at once, a run killed mid-way, a full disk.
// Every line in the file must be whole.

#include "InChild.h"
#include "TempDirectory.h"
#include "trace/LogFile.h"
#include "trace/LogTrace.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <latch>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quindral {
namespace {

using testing::ReadFile;
using testing::TempDirectory;

std::string LineOf(char fill, int number) {
    return std::string(1, fill) + std::to_string(number) + ":" + std::string(300, fill);
}

// True when every CR LF-ended line of the file is one that LineOf made; counts them by fill. With
// cutLastLine, the file may end in the first bytes of the line that the one writer would have
// written next, cut anywhere: in its number, after its colon, between its CR and its LF.
bool AllLinesWhole(const std::string& log, std::map<char, int>& counts, bool cutLastLine = false) {
    std::size_t at = 0;
    while (at < log.size()) {
        const std::size_t end = log.find("\r\n", at);
        if (end == std::string::npos) {
            const std::string rest = log.substr(at);
            return cutLastLine && (LineOf(rest[0], counts[rest[0]]) + "\r\n").starts_with(rest);
        }
        const std::string line = log.substr(at, end - at);
        const char fill = line.empty() ? '?' : line[0];
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos ||
            line != LineOf(fill, std::stoi(line.substr(1, colon - 1)))) {
            return false;
        }
        ++counts[fill];
        at = end + 2;
    }
    return true;
}

pid_t WriterProcess(const std::filesystem::path& log, char fill, int lines) {
    const pid_t pid = fork();
    if (pid == 0) {
        StringTextHolder pane;
        TraceSink sink(pane, log);
        for (int i = 0; lines < 0 || i < lines; ++i) {
            sink.LogTrace(LineOf(fill, i), false);
        }
        _exit(0);
    }
    return pid;
}

TEST(LogFileStress, TwoProgramsAppendingAtOnceNeverMixWithinALine) {
    TempDirectory dir;
    const auto log = LogFilePathIn(dir.path());
    const pid_t a = WriterProcess(log, 'a', 3000);
    const pid_t b = WriterProcess(log, 'b', 3000);
    int status = 0;
    waitpid(a, &status, 0);
    waitpid(b, &status, 0);
    std::map<char, int> counts;
    EXPECT_TRUE(AllLinesWhole(ReadFile(log), counts));
    EXPECT_EQ(counts['a'], 3000);
    EXPECT_EQ(counts['b'], 3000);
}

// Linux honours SIGKILL between the pages of one write, so a line that crosses a page of the file
// may be cut where the kill found it: every line before it stays whole.
TEST(LogFileStress, RunKilledMidWayLeavesOnlyWholeLines) {
    TempDirectory dir;
    const auto log = LogFilePathIn(dir.path());
    const pid_t writer = WriterProcess(log, 'k', -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
    std::map<char, int> counts;
    EXPECT_TRUE(AllLinesWhole(ReadFile(log), counts, /*cutLastLine=*/true));
    EXPECT_GT(counts['k'], 0);
}

// Two windows that start a run at the same moment on a log whose last line was cut: the cut line
// is ended once, and each run starts on a line of its own, with no blank line between them. Each
// opens the file of its own, as two programs do.
TEST(LogFileStress, RunsStartedTogetherOnACutLogEndTheCutLineOnce) {
    TempDirectory dir;
    const auto log = LogFilePathIn(dir.path());
    const std::string separator = "********************\r\n";
    for (int round = 0; round < 300; ++round) {
        std::ofstream(log, std::ios::binary | std::ios::trunc) << "k7:kk";
        std::latch go(2);
        const auto startRun = [&] {
            StringTextHolder pane;
            go.arrive_and_wait();
            TraceSink(pane, log).LogTrace("", true);
        };
        std::thread other(startRun);
        startRun();
        other.join();
        ASSERT_EQ(ReadFile(log), "k7:kk\r\n" + separator + separator) << "round " << round;
    }
}

// A log under a lease (an NFS delegation, a Samba oplock), whose holder is asked to give it up at
// the open. One that yields within the wait (by ending, as the break's signal makes it) loses no
// line; one that never yields costs the run one wait (half a second), not one a line, nor the
// kernel's lease-break-time (45 s) a line, and the lines stay in the pane.
struct LeaseCase {
    const char* name;
    bool holderYields;
    bool logged;
};

class LeaseTest : public ::testing::TestWithParam<LeaseCase> {};

TEST_P(LeaseTest, RunNeverWaitsOnTheLeaseBeyondOneBoundedWait) {
    const LeaseCase& row = GetParam();
    TempDirectory dir;
    const auto log = LogFilePathIn(dir.path());
    std::ofstream(log, std::ios::binary) << "";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        if (!row.holderYields) {
            std::signal(SIGIO, SIG_IGN);
        }
        const int fd = ::open(log.c_str(), O_RDONLY);
        const char taken = ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0 ? 'y' : 'n';
        if (::write(ready[1], &taken, 1) != 1) {
            _exit(1);
        }
        ::sleep(60);
        _exit(0);
    }
    char taken = 'n';
    ASSERT_EQ(::read(ready[0], &taken, 1), 1);
    std::optional<std::string> pane;
    if (taken == 'y') {
        // Ended by an alarm before twenty lines could each wait half a second.
        pane = testing::InChildWithin(5, [&] {
            StringTextHolder text;
            TraceSink sink(text, log);
            sink.LogTrace("", true);
            for (int line = 0; line < 20; ++line) {
                sink.LogTrace(std::to_string(line), false);
            }
            return text.Text();
        });
    }
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ASSERT_EQ(taken, 'y') << "needs a lease on a file here (run as root, as CI does)";
    std::string lines;
    for (int line = 0; line < 20; ++line) {
        lines += std::to_string(line) + "\r\n";
    }
    EXPECT_EQ(pane, lines);
    EXPECT_EQ(ReadFile(log), row.logged ? "********************\r\n" + lines : "");
}

INSTANTIATE_TEST_SUITE_P(Holders, LeaseTest,
                         ::testing::Values(LeaseCase{"HolderYields", true, true},
                                           LeaseCase{"HolderNeverYields", false, false}),
                         [](const ::testing::TestParamInfo<LeaseCase>& info) {
                             return info.param.name;
                         });

TEST(LogFileStress, FullDiskLeavesNoPartialLineAndTheNextLineAfterwardsIsWhole) {
    TempDirectory dir;
    const auto disk = dir.path() / "disk";
    std::filesystem::create_directories(disk);
    if (mount("quindral-test", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "needs the right to mount a small tmpfs (run as root, as CI does)";
    }
    // Unmounted on every path, also when an assertion below fails.
    const std::unique_ptr<const char, void (*)(const char*)> unmount(
        disk.c_str(), [](const char* path) { umount2(path, MNT_DETACH); });
    {
        const auto log = LogFilePathIn(disk);
        // Leave a little room, so that the log fills the disk in the middle of a line.
        std::ofstream(disk / "filler", std::ios::binary) << std::string(50 * 1024, 'f');
        StringTextHolder pane;
        TraceSink sink(pane, log);
        int written = 0;
        for (; written < 200; ++written) {
            sink.LogTrace(LineOf('d', written), false);
        }
        std::map<char, int> counts;
        EXPECT_TRUE(AllLinesWhole(ReadFile(log), counts));
        EXPECT_LT(counts['d'], 200); // the disk did fill up
        EXPECT_GT(counts['d'], 0);
        // The pane got every line even where the file could not.
        const std::string shown = pane.Text();
        EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 200);

        std::filesystem::remove(disk / "filler");
        sink.LogTrace(LineOf('e', 1), false);
        counts.clear();
        EXPECT_TRUE(AllLinesWhole(ReadFile(log), counts));
        EXPECT_EQ(counts['e'], 1);
    }
}

} // namespace
} // namespace quindral
