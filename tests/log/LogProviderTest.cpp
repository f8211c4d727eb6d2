#include "BackendTestSupport.h"

#include "corvanelib/log/ExternalWindowLogProvider.h"
#include "corvanelib/log/FileLogProvider.h"

#include <gtest/gtest.h>

#include <string>

using corvane_test::CountingConfig;
using corvane_test::ReadBytes;
using corvane_test::TestDirectory;
using corvanelib::CritFileLogProvider;
using corvanelib::FileLogProvider;

namespace {

LONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
               ? (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
               : -1;
}

} // namespace

TEST(FileLogProvider, CreatesAppendsAndCountsTwoBytesPerCharacter) {
    TestDirectory directory(L"provider_file");
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"p.log", L"log", directory.Path().c_str()), 0);
    const std::wstring path = directory.File(L"p.log");

    FileLogProvider provider;
    EXPECT_EQ(provider.Write(L"before init", 11), -1);
    ASSERT_EQ(provider.Init(&config), 0);
    EXPECT_EQ(ReadBytes(path), "");

    // One line per record in code page 936; the text runs to its NUL, the length only counts.
    EXPECT_EQ(provider.Write(L"abc", 3), 0);
    EXPECT_EQ(provider.Write(L"中文", 2), 0);
    const wchar_t trimmed[] = {L'x', L'y', 0, 0};
    EXPECT_EQ(provider.Write(trimmed, 4), 0);
    EXPECT_EQ(provider.CountedBytes(), 18u);
    EXPECT_EQ(ReadBytes(path), "abc\r\n\xD6\xD0\xCE\xC4\r\nxy\r\n");

    // A second writer on the shared file starts counting at its size; both append at the end.
    FileLogProvider second;
    ASSERT_EQ(second.Init(&config), 0);
    EXPECT_EQ(second.CountedBytes(), 15u);
    EXPECT_EQ(second.Write(L"second", 6), 0);
    EXPECT_EQ(provider.LockedWrite(L"first", 5, 0), 0);
    EXPECT_EQ(ReadBytes(path).substr(15), "second\r\nfirst\r\n");

    // A record that cannot be written says so.
    provider.Close();
    EXPECT_EQ(provider.Write(L"lost", 4), -1);
    CountingConfig nowhere;
    ASSERT_EQ(nowhere.Init(5, 1, L"p.log", L"log", directory.File(L"absent").c_str()), 0);
    FileLogProvider missing;
    EXPECT_EQ(missing.Init(&nowhere), 1); // path not found: another error than "no such file"
    EXPECT_EQ(missing.Write(L"lost", 4), -1);
}

TEST(FileLogProvider, RestartsEmptyPastTheCountedLimitWithoutTouchingTheOtherFile) {
    TestDirectory directory(L"provider_restart");
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"p.log", L"log", directory.Path().c_str()), 0);
    const std::wstring logPath = directory.File(L"p.log");
    const std::wstring critPath = directory.File(L"p.log.crit");
    ASSERT_TRUE(corvane_test::WriteBytes(logPath, "kept\r\n"));
    ASSERT_TRUE(corvane_test::WriteBytes(critPath, "x"));
    HANDLE crit =
        CreateFileW(critPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = FileLogProvider::kRestartBytes - 10;
    ASSERT_TRUE(SetFilePointerEx(crit, size, nullptr, FILE_BEGIN) && SetEndOfFile(crit));
    CloseHandle(crit);

    FileLogProvider log;
    CritFileLogProvider critical;
    ASSERT_EQ(log.Init(&config), 0);
    ASSERT_EQ(critical.Init(&config), 0);
    EXPECT_EQ(critical.CountedBytes(), FileLogProvider::kRestartBytes - 10);
    EXPECT_EQ(critical.Write(L"abcd", 4), 0); // reaches the limit, does not pass it
    EXPECT_EQ(FileSize(critPath), FileLogProvider::kRestartBytes - 10 + 6);

    EXPECT_EQ(critical.Write(L"crossing", 8), 0);
    EXPECT_EQ(critical.CountedBytes(), 0u);
    ASSERT_EQ(FileSize(critPath), 10);
    EXPECT_EQ(critical.Write(L"next", 4), 0);
    EXPECT_EQ(ReadBytes(critPath), "crossing\r\nnext\r\n");
    EXPECT_EQ(ReadBytes(logPath), "kept\r\n");
}

TEST(ExternalWindowLogProvider, AnswersWithoutAWindow) {
    CountingConfig config; // no settings: no "wnd"
    corvanelib::ExternalWindowLogProvider provider;
    EXPECT_EQ(provider.IsUnavailable(), 700);
    ASSERT_EQ(provider.Init(&config), 0);
    EXPECT_EQ(provider.IsUnavailable(), 700);
    EXPECT_EQ(provider.Write(L"record", 6), 700);
    EXPECT_EQ(provider.Write(L"", 0), 0);
    EXPECT_EQ(provider.Write(nullptr, 3), 2);
    EXPECT_EQ(provider.Write(L"", 3), 2);
}
