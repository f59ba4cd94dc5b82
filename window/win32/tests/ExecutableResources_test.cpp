// What Quindral.exe carries in its resources: the version record and the icon.

#include "trace/LogFile.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace quindral {
namespace {

std::wstring ProgramPath() {
    return (ExecutableDirectory() / "Quindral.exe").wstring();
}

TEST(ExecutableResources, VersionRecordNamesTheProduct) {
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> record(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, record.data()));
    const auto text = [&](const wchar_t* name) {
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        wchar_t* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(record.data(), key.c_str(), reinterpret_cast<void**>(&value),
                            &length)) {
            return std::wstring();
        }
        return std::wstring(value);
    };
    EXPECT_EQ(text(L"ProductName"), L"Orvane");
    EXPECT_EQ(text(L"InternalName"), L"Quindral");
    EXPECT_EQ(text(L"FileVersion"), L"1.00");
    EXPECT_EQ(text(L"ProductVersion"), L"1.00");
}

TEST(ExecutableResources, OneIconOf32By32In256Colours) {
    HMODULE program = LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(program, nullptr);
    HRSRC group = FindResourceW(program, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    auto* directory = static_cast<const BYTE*>(LockResource(LoadResource(program, group)));
    ASSERT_NE(directory, nullptr);
    // GRPICONDIR: reserved, type, count; then 14-byte entries: width, height, colours, ...
    EXPECT_EQ(*reinterpret_cast<const WORD*>(directory + 4), 1);
    const BYTE* entry = directory + 6;
    EXPECT_EQ(entry[0], 32);
    EXPECT_EQ(entry[1], 32);
    EXPECT_EQ(*reinterpret_cast<const WORD*>(entry + 6), 8); // bits per pixel
    const WORD iconId = *reinterpret_cast<const WORD*>(entry + 12);
    HRSRC icon = FindResourceW(program, MAKEINTRESOURCEW(iconId), RT_ICON);
    ASSERT_NE(icon, nullptr);
    auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(program, icon)));
    EXPECT_EQ(header->biWidth, 32);
    EXPECT_EQ(header->biBitCount, 8);
    FreeLibrary(program);
}

} // namespace
} // namespace quindral
