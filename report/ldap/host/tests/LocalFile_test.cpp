#include "TempDirectory.h"
#include "report/ldap/host/LocalFile.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quindral {
namespace {

// The one reader of other programs' files: regular files only, opened without waiting, read to
// the cap (here 8 bytes) whatever size they report.
TEST(ReadLocalFile, RegularFilesUpToTheCapAndNothingElse) {
    testing::TempDirectory dir;
    const auto at = [&](const char* name) { return (dir.path() / name).string(); };
    std::ofstream(at("whole")) << "abc";
    std::ofstream(at("cap")) << "12345678";
    std::ofstream(at("over")) << "123456789";
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(at("folder"));
    const struct {
        std::string path;
        LocalFile::State state;
        std::string bytes;
    } kRows[] = {
        {at("absent"), LocalFile::State::None, ""},
        {at("whole"), LocalFile::State::Whole, "abc"},
        {at("cap"), LocalFile::State::Whole, "12345678"},
        {at("over"), LocalFile::State::Cut, "12345678"},
        {at("fifo"), LocalFile::State::NotRegular, ""},
        {at("folder"), LocalFile::State::NotRegular, ""},
        {"/proc/self/status", LocalFile::State::Cut, "Name:\t"}, // reports a size of 0
    };
    for (const auto& row : kRows) {
        const LocalFile file = ReadLocalFile(row.path, 8);
        EXPECT_EQ(file.state, row.state) << row.path;
        EXPECT_TRUE(file.bytes.starts_with(row.bytes)) << row.path;
        EXPECT_EQ(file.bytes.size(), row.state == LocalFile::State::Cut ? 8 : row.bytes.size())
            << row.path;
    }
}

} // namespace
} // namespace quindral
