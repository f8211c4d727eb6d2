// The log front: a private log object on its own configuration with recording outputs, and the
// process-wide log as LogCapture sees it.
#include "LogCapture.h"
#include "WaitFor.h"

#include "corvanelib/Win32/Synchronization/Thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

using corvane_test::LogCapture;
using corvane_test::LogConfigAccess;
using corvane_test::LogRecord;
using corvane_test::ProviderWrite;
using corvane_test::RecordingProvider;
using corvane_test::WriteJournal;

namespace {

const wchar_t kSource[] = L".\\Tests\\Front";
const wchar_t kFunction[] = L"corvanelib::Test::Front";
const std::wstring kNotice = L"无法打开指定的设备，日志写入文件中";

LogRecord Parse(const std::wstring& text) {
    LogRecord record;
    EXPECT_TRUE(corvane_test::ParseLogRecord(text, record)) << text;
    return record;
}

// A private log whose outputs all write to one journal.
class BareLog : public ::testing::Test {
protected:
    RecordingProvider* Add(const wchar_t* name) {
        auto* provider = new RecordingProvider(name, journal);
        EXPECT_EQ(log->AddProvider(provider, name), 0); // the log owns what it accepts
        return provider;
    }
    void Configure(int threshold, int outputKind) {
        LogConfigAccess::SetLevels(config, threshold, outputKind);
    }

    // The writes since the last call: "provider:R" for the text of the last write (the record),
    // "provider:notice<length>" for the fallback notice.
    std::wstring Writes() {
        const auto writes = journal.Writes();
        journal.Clear();
        std::wstring listed;
        for (const ProviderWrite& w : writes) {
            listed += w.provider + L":" +
                      (w.text == kNotice              ? L"notice" + std::to_wstring(w.length)
                       : w.text == writes.back().text ? L"R"
                                                      : w.text) +
                      L" ";
        }
        return listed;
    }
    // The one write since the last call.
    ProviderWrite Only() {
        const auto writes = journal.Writes();
        journal.Clear();
        EXPECT_EQ(writes.size(), 1u);
        return writes.empty() ? ProviderWrite{} : writes.back();
    }
    std::wstring OnlyMessage() { return Parse(Only().text).message; }

    WriteJournal journal;
    corvanelib::CommonConfig config;
    std::unique_ptr<corvanelib::Log> log = std::make_unique<corvanelib::Log>(&config);
};

// With the four outputs under their usual names.
class LogFront : public BareLog {
protected:
    RecordingProvider* file = Add(L"file");
    RecordingProvider* critfile = Add(L"critfile");
    RecordingProvider* vsdebug = Add(L"vsdebug");
    RecordingProvider* wnd = Add(L"wnd");
};

TEST_F(LogFront, OnlyLevelsUpToTheThresholdAreWritten) {
    // Constructed configuration: threshold -1 lets nothing through, negative levels included.
    for (int level = -2; level <= 6; ++level) {
        EXPECT_EQ(log->WriteLog(level, kSource, kFunction, 1, L"w"), 0);
        EXPECT_EQ(log->WriteLogLine(level, kSource, kFunction, 1, L"l"), 0);
        EXPECT_EQ(log->WriteLogA(level, kSource, kFunction, 1, "a"), 0);
    }
    EXPECT_EQ(Writes(), L"");

    // Levels outside the table never pass, whatever the threshold.
    vsdebug->SetWriteResult(7);
    for (int threshold : {3, 100}) {
        Configure(threshold, 3);
        for (int level = -2; level <= 6; ++level) {
            const bool passes = level >= 0 && level <= std::min(threshold, 5);
            EXPECT_EQ(log->WriteLog(level, kSource, kFunction, 1, L"w%d", level), passes ? 7 : 0);
        }
        std::wstring letters;
        for (const ProviderWrite& w : journal.Writes()) {
            letters += w.provider == L"vsdebug"
                           ? w.text.substr(15, 1) + Parse(w.text).message + L","
                           : L"";
        }
        journal.Clear();
        EXPECT_EQ(letters, threshold == 3 ? L"Nw0,Cw1,Ew2,Iw3," : L"Nw0,Cw1,Ew2,Iw3,Dw4,Rw5,");
    }
}

std::wstring Stamp(const SYSTEMTIME& t) {
    wchar_t text[32];
    swprintf(text, 32, L"%02d%02d-%02d:%02d:%02d", t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

TEST_F(LogFront, RecordIsHeaderThenMessageWithoutLineEnd) {
    Configure(5, 3);
    SYSTEMTIME before;
    GetLocalTime(&before);
    log->WriteLog(3, L".\\src\\Worker", L"corvanelib::WinThread::Start", 105, L"%s=%d %hs 100%%",
                  L"wide", 42, "narrow");
    SYSTEMTIME after;
    GetLocalTime(&after);
    const ProviderWrite write = Only();
    const std::wstring stamp = write.text.substr(0, 13);
    EXPECT_TRUE(stamp == Stamp(before) || stamp == Stamp(after)) << stamp;
    EXPECT_EQ(write.text.substr(stamp.size()),
              L"\t[I] Worker:105(corvanelib::WinThread::Start){log_test.exe-" +
                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(GetCurrentThreadId()) + L"}:\twide=42 narrow 100%");
    EXPECT_EQ(write.length, static_cast<int>(write.text.size()));
}

TEST_F(LogFront, FileFieldIsNameAndExtensionOrEmptyWhenAPartDoesNotFit) {
    Configure(5, 3);
    const std::wstring name63(63, L'n');
    const std::wstring name62(62, L'm');
    const struct {
        std::wstring path;
        std::wstring field;
    } cases[] = {
        {L".\\Win32\\Synchronization\\Thread", L"Thread"},
        {L"C:\\src.d\\Lock.cpp", L"Lock.cpp"},
        {L"D:Drive.cpp", L"Drive.cpp"},
        {L"a/b\\c/Mixed.h", L"Mixed.h"},
        {L"dir.v2\\noext", L"noext"},
        {L"Several.dots.in.name", L"Several.dots.in.name"},
        {L"Short.tiny7", L"Short.tiny7"}, // an extension of 6 characters fits
        {L"Short.longext", L""},          // one of 8 does not
        {name63 + L".cpp", name63},       // name and extension cut to 63 characters
        {name62 + L".c", name62 + L"."},
        {L".\\" + std::wstring(64, L'o'), L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        log->WriteLog(4, c.path.c_str(), kFunction, 12, L"m");
        const LogRecord record = Parse(Only().text);
        EXPECT_EQ(record.file + L"|" + std::to_wstring(record.line) + L"|" + record.message,
                  c.field + L"|12|m");
    }
    log->WriteLog(4, nullptr, kFunction, 12, L"m");
    EXPECT_EQ(Parse(Only().text).file, L"");
}

TEST_F(LogFront, LongMessagesAreCutToTheBuffersAndLineEndsDroppedButCounted) {
    Configure(5, 3);
    log->WriteLog(4, kSource, kFunction, 1, L"%s", std::wstring(10000, L'x').c_str());
    const ProviderWrite wide = Only();
    EXPECT_EQ(wide.text.size(), 8191u);
    EXPECT_EQ(wide.length, 8191);
    EXPECT_EQ(wide.text.back(), L'x');
    // Narrow messages keep at most 1023 bytes.
    for (size_t size : {2000, 1023, 1022}) {
        log->WriteLogA(4, kSource, kFunction, 1, "%s", std::string(size, 'y').c_str());
        EXPECT_EQ(OnlyMessage(), std::wstring(std::min<size_t>(size, 1023), L'y'));
    }
    // Nothing of a longer record is left behind in the shared buffers.
    log->WriteLogA(4, kSource, kFunction, 1, "%s-%d", "short", 5);
    EXPECT_EQ(OnlyMessage(), L"short-5");
    log->WriteLog(4, kSource, kFunction, 1, L"kept\r\n");
    EXPECT_EQ(OnlyMessage(), L"kept\r\n");

    // WriteLogLine overwrites the trailing line ends with NULs, inside the length it passes on.
    const struct {
        const wchar_t* message;
        std::wstring kept;
        size_t dropped;
    } lines[] = {{L"done\r\n", L"done", 2},
                 {L"a\n\r\n", L"a", 3},
                 {L"x\r\ny", L"x\r\ny", 0},
                 {L"\r\n", L"", 2}};
    for (const auto& c : lines) {
        log->WriteLogLine(4, kSource, kFunction, 1, L"%s", c.message);
        const ProviderWrite write = Only();
        EXPECT_EQ(Parse(write.text).message, c.kept);
        EXPECT_EQ(write.counted.substr(write.text.size()), std::wstring(c.dropped, L'\0'));
    }
}

TEST_F(LogFront, RecordsGoToTheOutputKindWithCriticalEchoAndFileFallback) {
    file->SetWriteResult(11);
    critfile->SetWriteResult(22);
    vsdebug->SetWriteResult(33);
    wnd->SetWriteResult(44);
    const struct {
        int kind, level, windowUnavailable, fileUnavailable, result;
        const wchar_t* writes;
    } cases[] = {
        // Levels 0 and 1 reach the critical file first, even when it is the output itself.
        {3, 1, 0, 0, 33, L"critfile:R vsdebug:R "},
        {3, 2, 0, 0, 33, L"vsdebug:R "},
        {2, 1, 0, 0, 22, L"critfile:R critfile:R "},
        // An unavailable window: notice, echo and record, all but the echo to the file.
        {4, 0, 700, 0, 11, L"file:notice17 critfile:R file:R "},
        {4, 3, 700, 0, 11, L"file:notice17 file:R "},
        {4, 3, 0, 0, 44, L"wnd:R "},
        // The file itself has no fallback; unavailable, it gets nothing, nor does the echo.
        {1, 1, 0, 0, 11, L"critfile:R file:R "},
        {1, 1, 0, 1, -1, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writes);
        Configure(5, c.kind);
        wnd->SetUnavailable(c.windowUnavailable);
        file->SetUnavailable(c.fileUnavailable);
        EXPECT_EQ(log->WriteLog(c.level, kSource, kFunction, 1, L"r"), c.result);
        EXPECT_EQ(Writes(), c.writes);
    }
}

TEST_F(BareLog, MissingTargetFallsBackAndMissingFileOrEchoIsSkipped) {
    for (int kind : {3, 1}) {
        Configure(5, kind);
        EXPECT_EQ(log->WriteLog(1, kSource, kFunction, 1, L"r"), -1);
    }
    EXPECT_EQ(log->EchoCritical(1, L"r", 1), -1);
    EXPECT_EQ(log->EchoCritical(2, L"r", 1), 0);

    Add(L"file")->SetWriteResult(5);
    Configure(5, 3);
    EXPECT_EQ(log->WriteLog(1, kSource, kFunction, 1, L"r"), 5);
    EXPECT_EQ(Writes(), L"file:notice17 file:R ");
}

TEST_F(LogFront, AddProviderRegistersEachNameOnceAndOwnsWhatItAccepts) {
    EXPECT_EQ(file->Configuration(), &config);
    EXPECT_EQ(file->InitCalls(), 1);
    WriteJournal other;
    RecordingProvider refused(L"refused", other);
    for (const wchar_t* name : {L"file", L"", static_cast<const wchar_t*>(nullptr)}) {
        EXPECT_EQ(log->AddProvider(&refused, name), -1);
    }
    EXPECT_EQ(log->AddProvider(nullptr, L"spare"), -1);
    EXPECT_EQ(refused.InitCalls(), 0);
    Configure(5, 1);
    log->WriteLog(3, kSource, kFunction, 1, L"r");
    EXPECT_EQ(Writes(), L"file:R ");

    // Further names, compared exactly, get numbers after the four fixed ones, never one of theirs.
    Add(L"FILE");
    EXPECT_EQ(config.RegisterProviderName(L"another"), 6);
    EXPECT_EQ(config.RegisterProviderName(L"wnd"), -1);
    Configure(5, 5);
    log->WriteLog(3, kSource, kFunction, 1, L"r");
    EXPECT_EQ(Writes(), L"FILE:R ");
}

// Logs through its own log object while that object deletes it.
struct LoggingProvider : RecordingProvider {
    LoggingProvider(WriteJournal& journal, corvanelib::Log* log, int& result)
        : RecordingProvider(L"logging", journal), log(log), result(result) {}
    ~LoggingProvider() override { result = log->WriteLog(1, kSource, kFunction, 1, L"late"); }
    corvanelib::Log* log;
    int& result;
};

TEST_F(LogFront, MutedLogWritesNothingAndDestructionMutesFirst) {
    Configure(5, 1);
    EXPECT_EQ(log->SetMuted(1), 0);
    EXPECT_EQ(log->WriteLog(1, kSource, kFunction, 1, L"r"), 0);
    EXPECT_EQ(Writes(), L"");
    EXPECT_EQ(log->SetMuted(0), 1);
    log->WriteLog(3, kSource, kFunction, 1, L"r");
    EXPECT_EQ(Writes(), L"file:R ");

    int lateResult = 99;
    ASSERT_EQ(log->AddProvider(new LoggingProvider(journal, log.get(), lateResult), L"logging"), 0);
    log.reset();
    EXPECT_EQ(lateResult, 0);
    EXPECT_EQ(Writes(), L"");
}

// Holds the log's lock from inside the first write until released, and sets the last error in
// every write, as real outputs do.
struct BlockingProvider : RecordingProvider {
    using RecordingProvider::RecordingProvider;
    int Write(const wchar_t* text, int length) override {
        entered = true;
        corvane_test::WaitFor([this] { return release.load(); }, std::chrono::minutes(2));
        SetLastError(ERROR_WRITE_FAULT);
        return RecordingProvider::Write(text, length); // the text as it is after the wait
    }
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
};

TEST_F(BareLog, RecordThatCannotGetTheLockInTimeIsDroppedAndCallersKeepTheirLastError) {
    auto* blocking = new BlockingProvider(L"file", journal);
    ASSERT_EQ(log->AddProvider(blocking, L"file"), 0);
    Configure(5, 1);
    DWORD firstError = 0;
    std::thread first([&] {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        log->WriteLog(5, kSource, kFunction, 1, L"TryRepairCorvaneMgr()=%u,errno=%u", 0u, 122u);
        firstError = GetLastError();
    });
    EXPECT_TRUE(corvane_test::WaitFor([&] { return blocking->entered.load(); }));

    SetLastError(ERROR_ACCESS_DENIED);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(log->WriteLog(3, kSource, kFunction, 1, L"second record"), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(14500));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    blocking->release = true;
    first.join();
    EXPECT_EQ(firstError, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // The dropped record did not touch the one being written.
    EXPECT_EQ(OnlyMessage(), L"TryRepairCorvaneMgr()=0,errno=122");
}

struct IdleWorker : corvanelib::WinThread {
    IdleWorker() : WinThread(L"idle") {}
    ~IdleWorker() override { Stop(20000); }
    void ThreadStart() override {}
};

TEST(LogCaptureTest, CaptureSeesTheRecordsOfAStartedThreadAndLeavesTheLogUnconfigured) {
    {
        LogCapture capture(3);
        ASSERT_TRUE(capture.Active());
        IdleWorker worker;
        ASSERT_TRUE(worker.Start());
        const DWORD id = worker.ThreadId();
        EXPECT_TRUE(worker.Stop(20000));
        corvanelib::g_commonLog.WriteLogA(4, L"T", L"other", 1, "filtered");
        const auto records = capture.RecordsOf(L"corvanelib::WinThread::Start");
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(std::to_wstring(records[0].level) + L"|" + records[0].file + L"|" +
                      records[0].message,
                  L"3|Thread|New Thread Created, Thread ID is " + std::to_wstring(id));
        EXPECT_EQ(capture.Records().size(), 1u);
    }
    EXPECT_EQ(corvanelib::g_commonConfig.Threshold(), -1);
    EXPECT_EQ(corvanelib::g_commonConfig.OutputKind(), -1);
}

} // namespace
