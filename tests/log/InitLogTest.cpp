// InitLog end to end: the process-wide log switched on once for this process, with its files in
// a private directory, records written through g_commonLog and read back from the files and from
// a receiving window.
#include "BackendTestSupport.h"
#include "WaitFor.h"

#include "corvanelib/log/InitLog.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

using corvane_test::ReadBytes;
using corvanelib::g_commonConfig;
using corvanelib::g_commonLog;

namespace {

// "The given device cannot be opened; the log is written to the file." in code page 936.
const char kFallbackNoticeBytes[] = "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xD6\xB8\xB6\xA8\xB5\xC4"
                                    "\xC9\xE8\xB1\xB8\xA3\xAC\xC8\xD5\xD6\xBE\xD0\xB4\xC8\xEB"
                                    "\xCE\xC4\xBC\xFE\xD6\xD0";

// What a file gained since `mark` (its earlier content).
std::string Since(const std::wstring& path, const std::string& mark) {
    const std::string now = ReadBytes(path);
    return now.compare(0, mark.size(), mark) == 0 ? now.substr(mark.size()) : "<rewritten>";
}

std::string HeaderPattern(const char* letter, const char* file, int line, const char* function) {
    return std::string("\\d{4}-\\d{2}:\\d{2}:\\d{2}\\t\\[") + letter + "\\] " + file + ":" +
           std::to_string(line) + "\\(" + function + "\\)\\{log_initlog_test\\.exe-" +
           std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetCurrentThreadId()) +
           "\\}:\\t";
}

// The bytes of every WM_COPYDATA the receiving window got.
std::vector<std::string> g_received;

LRESULT CALLBACK ReceiverProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    g_received.emplace_back(static_cast<const char*>(data->lpData), data->cbData);
    return TRUE;
}

TEST(InitLog, RecordsReachTheFilesAndTheWindowWhichFallsBackToTheLogFileWithANotice) {
    // The log keeps its files open until the process ends, so its directory stays behind in the
    // prefix's temporary folder.
    const auto* directory = new corvane_test::TestDirectory(L"initlog");
    const std::wstring logPath = directory->File(L"app.log");
    // An earlier run's file: the log appends to it.
    ASSERT_TRUE(corvane_test::WriteBytes(logPath, "earlier line\r\n"));
    corvanelib::InitLog(5, 1, L"app.log", L"log", directory->path.c_str());

    EXPECT_EQ(g_commonLog.WriteLog(3, L".\\src\\Worker", L"corvanelib::WinThread::Start", 105,
                                   L"New Thread Created, Thread ID is %u", 3364u),
              0);
    EXPECT_EQ(g_commonLog.WriteLogA(1, L".\\StrUtil.cpp", L"corvanelib::Util::F", 7,
                                    "value %s set to %u", "Start", 2u),
              0);
    g_commonLog.WriteLog(0, L"T", L"F", 1, L"%s", L"中文");
    g_commonLog.WriteLog(6, L"T", L"F", 4, L"beyond the table");

    const std::string first = HeaderPattern("I", "Worker", 105, "corvanelib::WinThread::Start") +
                              "New Thread Created, Thread ID is 3364\\r\\n";
    // Levels 0 and 1 also go to the critical-record file; Chinese text in code page 936.
    const std::string critical = HeaderPattern("C", "StrUtil\\.cpp", 7, "corvanelib::Util::F") +
                                 "value Start set to 2\\r\\n" + HeaderPattern("N", "T", 1, "F") +
                                 "\xD6\xD0\xCE\xC4\\r\\n";
    const std::string log = Since(logPath, "earlier line\r\n");
    EXPECT_TRUE(std::regex_match(log, std::regex(first + critical))) << log;
    const std::string crit = ReadBytes(directory->File(L"app.log.crit"));
    EXPECT_TRUE(std::regex_match(crit, std::regex(critical))) << crit;

    // The window named by setting "wnd".
    const std::wstring title = L"Cvn InitLog Receiver " + std::to_wstring(GetCurrentProcessId());
    corvane_test::ConfigFile file;
    ASSERT_TRUE(file.Write("[log]\nWND = " + std::string(title.begin(), title.end()) + "\n"));
    // The owner starts the watcher; its first check reads the file at once.
    ASSERT_TRUE(g_commonConfig.StartWatcher());
    std::wstring value;
    ASSERT_TRUE(corvane_test::WaitFor(
        [&] { return g_commonConfig.GetSetting(L"wnd", value) == 0 && value == title; }));

    ASSERT_EQ(g_commonConfig.Init(5, 4, L"app.log", L"log", directory->path.c_str()), 0);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &ReceiverProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"CvnInitLogReceiver";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPED, 0, 0,
                                  10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    const std::string mark = ReadBytes(logPath);

    // WriteLogLine overwrites the trailing CR LF with NULs; they are still sent.
    EXPECT_EQ(g_commonLog.WriteLogLine(3, L"T", L"F", 9, L"to the window\r\n"), 0);
    ASSERT_EQ(g_received.size(), 1u);
    const std::string& bytes = g_received[0];
    ASSERT_EQ(bytes.size() % 2, 0u);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    ASSERT_GE(text.size(), 15u);
    EXPECT_EQ(text.substr(text.size() - 15), std::wstring(L"to the window\0\0", 15));
    EXPECT_EQ(text.find(L"[I] T:9(F){log_initlog_test.exe-"), 14u);
    EXPECT_EQ(Since(logPath, mark), "");

    // Window gone: the notice and then the record go to the file.
    DestroyWindow(window);
    EXPECT_EQ(g_commonLog.WriteLog(3, L"T", L"F", 10, L"no window"), 0);
    const std::string added = Since(logPath, mark);
    EXPECT_TRUE(
        std::regex_match(added, std::regex(std::string(kFallbackNoticeBytes) + "\\r\\n" +
                                           HeaderPattern("I", "T", 10, "F") + "no window\\r\\n")))
        << added;
    EXPECT_EQ(g_received.size(), 1u);
    g_commonConfig.StopWatcher();
    g_commonLog.SetMuted(1);
}

} // namespace
