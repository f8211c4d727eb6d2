#include "BackendTestSupport.h"

#include "corvanelib/log/ExternalWindowLogProvider.h"
#include "corvanelib/log/FileLogProvider.h"
#include "corvanelib/log/VSDebugLogProvider.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using corvane_test::ConfigFile;
using corvane_test::CountingConfig;
using corvane_test::ReadBytes;
using corvane_test::TestDirectory;
using corvane_test::WriteBytes;
using corvanelib::CritFileLogProvider;
using corvanelib::ExternalWindowLogProvider;
using corvanelib::FileLogProvider;

namespace {

// "中文" in code page 936.
const char kChineseBytes[] = "\xD6\xD0\xCE\xC4";

bool SetFileSize(const std::wstring& path, LONGLONG size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER position;
    position.QuadPart = size;
    const BOOL ok = SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok != FALSE;
}

LONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) {
        return -1;
    }
    return (static_cast<LONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
}

} // namespace

TEST(FileLogProvider, CreatesAppendsAndEncodesRecordsInCodePage936) {
    TestDirectory directory(L"provider_file");
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"p.log", L"log", directory.Path().c_str()), 0);
    const std::wstring path = directory.File(L"p.log");

    FileLogProvider provider;
    EXPECT_EQ(provider.Write(L"before init", 11), -1);
    EXPECT_EQ(provider.Init(nullptr), -1);
    ASSERT_EQ(provider.Init(&config), 0);
    EXPECT_EQ(ReadBytes(path), "");
    EXPECT_EQ(provider.CountedBytes(), 0u);

    // One line per record, CR LF; two counted bytes per character, whatever the encoding.
    EXPECT_EQ(provider.Write(L"abc", 3), 0);
    EXPECT_EQ(provider.Write(L"中文", 2), 0);
    EXPECT_EQ(provider.CountedBytes(), 10u);
    // The text runs to its NUL; the length only feeds the counter.
    const wchar_t trimmed[] = {L'x', L'y', 0, 0};
    EXPECT_EQ(provider.Write(trimmed, 4), 0);
    EXPECT_EQ(provider.CountedBytes(), 18u);
    // A record holding a line feed spans two lines.
    EXPECT_EQ(provider.Write(L"two\nlines", 9), 0);
    EXPECT_EQ(ReadBytes(path), std::string("abc\r\n") + kChineseBytes + "\r\nxy\r\ntwo\nlines\r\n");

    // A second writer on the same file (shared for reading and writing) appends, starting its
    // count at the size on disk; both keep writing at the end.
    const LONGLONG size = FileSize(path);
    FileLogProvider second;
    ASSERT_EQ(second.Init(&config), 0);
    EXPECT_EQ(second.CountedBytes(), static_cast<DWORD>(size));
    EXPECT_EQ(second.Write(L"second", 6), 0);
    EXPECT_EQ(provider.Write(L"first again", 11), 0);
    const std::string content = ReadBytes(path);
    EXPECT_EQ(content.substr(static_cast<size_t>(size)), "second\r\nfirst again\r\n");
    EXPECT_EQ(provider.LockedWrite(L"locked", 6, 0), 0);
    EXPECT_EQ(ReadBytes(path).substr(content.size()), "locked\r\n");

    // Closed: the record cannot be written, and says so.
    provider.Close();
    EXPECT_EQ(provider.Write(L"lost", 4), -1);
    second.Close();
}

TEST(FileLogProvider, RestartsEmptyPastTheCountedLimitWithoutTouchingTheOtherFile) {
    TestDirectory directory(L"provider_restart");
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"p.log", L"log", directory.Path().c_str()), 0);
    const std::wstring logPath = directory.File(L"p.log");
    const std::wstring critPath = directory.File(L"p.log.crit");
    ASSERT_TRUE(WriteBytes(logPath, "kept\r\n"));
    ASSERT_TRUE(SetFileSize(critPath, FileLogProvider::kRestartBytes - 10));

    FileLogProvider log;
    CritFileLogProvider crit;
    ASSERT_EQ(log.Init(&config), 0);
    ASSERT_EQ(crit.Init(&config), 0);
    EXPECT_EQ(crit.CountedBytes(), FileLogProvider::kRestartBytes - 10);

    // Up to the limit the file grows.
    EXPECT_EQ(crit.Write(L"abcd", 4), 0);
    EXPECT_EQ(crit.CountedBytes(), FileLogProvider::kRestartBytes - 2);
    EXPECT_EQ(FileSize(critPath), FileLogProvider::kRestartBytes - 10 + 6);

    // The record that passes it is the first line of the emptied file.
    EXPECT_EQ(crit.Write(L"crossing", 8), 0);
    EXPECT_EQ(crit.CountedBytes(), 0u);
    ASSERT_EQ(FileSize(critPath), 10);
    EXPECT_EQ(ReadBytes(critPath), "crossing\r\n");
    EXPECT_EQ(crit.Write(L"next", 4), 0);
    EXPECT_EQ(ReadBytes(critPath), "crossing\r\nnext\r\n");

    EXPECT_EQ(ReadBytes(logPath), "kept\r\n");
    EXPECT_EQ(log.Write(L"more", 4), 0);
    EXPECT_EQ(ReadBytes(logPath), "kept\r\nmore\r\n");
}

TEST(FileLogProvider, MissingDirectoryFailsEveryRecord) {
    TestDirectory directory(L"provider_missing");
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"p.log", L"log", directory.File(L"absent").c_str()), 0);
    FileLogProvider provider;
    // The path's directory is missing: another error than "file not found".
    EXPECT_EQ(provider.Init(&config), 1);
    EXPECT_EQ(provider.Write(L"lost", 4), -1);
    EXPECT_EQ(provider.IsUnavailable(), 0);
}

namespace {

// A top-level window of this thread that keeps every WM_COPYDATA it receives. SendMessageW to a
// window of the calling thread runs its procedure directly, so no message loop is needed.
class Receiver {
public:
    struct Message {
        WPARAM wParam;
        ULONG_PTR tag;
        std::string bytes;
    };

    explicit Receiver(const std::wstring& title) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = &Receiver::Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"CvnLogReceiverTest";
        RegisterClassW(&windowClass);
        m_window = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPED, 0, 0,
                                   10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Receiver() { Destroy(); }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    bool Exists() const { return m_window != nullptr; }
    void Destroy() {
        if (m_window != nullptr) {
            DestroyWindow(m_window);
            m_window = nullptr;
        }
    }
    const std::vector<Message>& Messages() const { return m_messages; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COPYDATA) {
            auto* self = reinterpret_cast<Receiver*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (self != nullptr && data != nullptr) {
                self->m_messages.push_back(
                    {wParam, data->dwData,
                     std::string(static_cast<const char*>(data->lpData), data->cbData)});
            }
            return TRUE;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND m_window = nullptr;
    std::vector<Message> m_messages;
};

std::string Utf16Bytes(const wchar_t* text, size_t chars) {
    return std::string(reinterpret_cast<const char*>(text), chars * sizeof(wchar_t));
}

} // namespace

TEST(ExternalWindowLogProvider, SendsTheCountedBytesToTheWindowNamedBySettingWnd) {
    const std::wstring title = L"Cvn Log Receiver " + std::to_wstring(GetCurrentProcessId());
    ConfigFile file;
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 4, L"p.log", L"log", L"c:\\"), 0);

    ExternalWindowLogProvider provider;
    EXPECT_EQ(provider.IsUnavailable(), 700); // no configuration yet
    ASSERT_EQ(provider.Init(&config), 0);
    EXPECT_EQ(provider.IsUnavailable(), 700); // no setting "wnd"
    EXPECT_EQ(provider.Write(L"early", 5), 700);

    std::string setting(title.begin(), title.end());
    ASSERT_TRUE(file.Write("[log]\nWND = " + setting + "\n"));
    config.Check();
    EXPECT_EQ(provider.IsUnavailable(), 700); // no such window yet

    Receiver receiver(title);
    ASSERT_TRUE(receiver.Exists());
    ASSERT_EQ(provider.IsUnavailable(), 0); // looked up anew: found now

    // Exactly 2 x length bytes, NULs inside the length included, the size also as the tag.
    const wchar_t record[] = {L'r', L'e', L'c', L'中', 0, 0, 0};
    EXPECT_EQ(provider.Write(record, 6), 0);
    ASSERT_EQ(receiver.Messages().size(), 1u);
    EXPECT_EQ(receiver.Messages()[0].wParam, 0u);
    EXPECT_EQ(receiver.Messages()[0].tag, 12u);
    EXPECT_EQ(receiver.Messages()[0].bytes, Utf16Bytes(record, 6));
    EXPECT_EQ(provider.LockedWrite(L"x", 1, 0), 0);
    ASSERT_EQ(receiver.Messages().size(), 2u);
    EXPECT_EQ(receiver.Messages()[1].bytes, Utf16Bytes(L"x", 1));

    // Nothing to send, or nothing to send it from.
    EXPECT_EQ(provider.Write(L"", 0), 0);
    EXPECT_EQ(provider.Write(nullptr, 3), 2);
    EXPECT_EQ(provider.Write(L"", 3), 2);
    EXPECT_EQ(receiver.Messages().size(), 2u);

    provider.Close();
    EXPECT_EQ(provider.Write(L"forgotten", 9), 700);
    receiver.Destroy();
    EXPECT_EQ(provider.IsUnavailable(), 700);
    EXPECT_EQ(provider.IsUnavailable(), 700);
}

TEST(VSDebugLogProvider, NeverFails) {
    corvanelib::VSDebugLogProvider provider;
    EXPECT_EQ(provider.Init(nullptr), 0);
    EXPECT_EQ(provider.Write(L"to the debugger", 15), 0);
    EXPECT_EQ(provider.LockedWrite(L"again", 5, 0), 0);
    EXPECT_EQ(provider.IsUnavailable(), 0);
}
