#include "LogTestFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using corvane_test::LogConfigAccess;
using corvane_test::LogFixture;
using corvane_test::RecordingProvider;
using corvane_test::WriteJournal;
using Order = std::vector<std::wstring>;

namespace {

const wchar_t kSource[] = L".\\Tests\\Routing";
const wchar_t kFunction[] = L"corvanelib::Test::Route";
const std::wstring kNotice = L"无法打开指定的设备，日志写入文件中";

using LogRoutingTest = LogFixture;

// The record text most recently written (any provider).
std::wstring LastText(const WriteJournal& journal) {
    const auto writes = journal.Writes();
    return writes.empty() ? L"" : writes.back().text;
}

TEST_F(LogRoutingTest, RecordsGoToTheOutputKindWithCriticalEchoAndFileFallback) {
    file->SetWriteResult(11);
    critfile->SetWriteResult(22);
    vsdebug->SetWriteResult(33);
    wnd->SetWriteResult(44);

    // Debugger output: levels 0 and 1 reach the critical file first.
    Configure(5, 3);
    EXPECT_EQ(log->WriteLog(1, kSource, kFunction, 1, L"r"), 33);
    std::wstring r = LastText(journal);
    EXPECT_EQ(Sequence(), (Order{L"critfile:" + r, L"vsdebug:" + r}));
    journal.Clear();
    EXPECT_EQ(log->WriteLog(2, kSource, kFunction, 1, L"r"), 33);
    EXPECT_EQ(Sequence(), Order{L"vsdebug:" + LastText(journal)});

    // Critical file as output: a level-1 record arrives there twice.
    Configure(5, 2);
    journal.Clear();
    EXPECT_EQ(log->WriteLog(1, kSource, kFunction, 1, L"r"), 22);
    r = LastText(journal);
    EXPECT_EQ(Sequence(), (Order{L"critfile:" + r, L"critfile:" + r}));

    // Window unavailable: notice, echo, record, all but the echo to the file.
    Configure(5, 4);
    wnd->SetUnavailable(700);
    journal.Clear();
    EXPECT_EQ(log->WriteLog(0, kSource, kFunction, 1, L"r"), 11);
    r = LastText(journal);
    EXPECT_EQ(Sequence(), (Order{L"file:" + kNotice, L"critfile:" + r, L"file:" + r}));
    EXPECT_EQ(journal.Writes()[0].length, 17);
    journal.Clear();
    log->WriteLogA(3, kSource, kFunction, 1, "r");
    r = LastText(journal);
    EXPECT_EQ(Sequence(), (Order{L"file:" + kNotice, L"file:" + r}));
    wnd->SetUnavailable(0);
    journal.Clear();
    EXPECT_EQ(log->WriteLog(3, kSource, kFunction, 1, L"r"), 44);
    EXPECT_EQ(Sequence(), Order{L"wnd:" + LastText(journal)});

    // The file itself: no fallback; unavailable means no output at all, echo included.
    Configure(5, 1);
    journal.Clear();
    EXPECT_EQ(log->WriteLog(1, kSource, kFunction, 1, L"r"), 11);
    r = LastText(journal);
    EXPECT_EQ(Sequence(), (Order{L"critfile:" + r, L"file:" + r}));
    file->SetUnavailable(1);
    journal.Clear();
    EXPECT_EQ(log->WriteLog(1, kSource, kFunction, 1, L"r"), -1);
    EXPECT_TRUE(journal.Writes().empty());
}

TEST(LogMissingProviderTest, MissingTargetFallsBackAndMissingFileOrEchoIsSkipped) {
    WriteJournal journal;
    corvanelib::CommonConfig config;
    corvanelib::Log log(&config);
    LogConfigAccess::SetLevels(config, 5, 3);

    // Nothing registered: nowhere to write.
    EXPECT_EQ(log.WriteLog(1, kSource, kFunction, 1, L"r"), -1);
    LogConfigAccess::SetLevels(config, 5, 1);
    EXPECT_EQ(log.WriteLog(1, kSource, kFunction, 1, L"r"), -1);
    EXPECT_EQ(log.EchoCritical(1, L"r", 1), -1);
    EXPECT_EQ(log.EchoCritical(2, L"r", 1), 0);

    // Only the file: a missing target is treated as unavailable, a missing echo is skipped.
    auto* file = new RecordingProvider(L"file", journal);
    ASSERT_EQ(log.AddProvider(file, L"file"), 0);
    file->SetWriteResult(5);
    LogConfigAccess::SetLevels(config, 5, 3);
    EXPECT_EQ(log.WriteLog(1, kSource, kFunction, 1, L"r"), 5);
    const auto writes = journal.Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].text, kNotice);
    EXPECT_EQ(writes[1].provider, L"file");
}

TEST_F(LogRoutingTest, AddProviderRegistersEachNameOnceAndOwnsWhatItAccepts) {
    EXPECT_EQ(file->Configuration(), &config);
    EXPECT_EQ(file->InitCalls(), 1);

    WriteJournal other;
    RecordingProvider duplicate(L"duplicate", other);
    EXPECT_EQ(log->AddProvider(&duplicate, L"file"), -1);
    EXPECT_EQ(log->AddProvider(nullptr, L"spare"), -1);
    EXPECT_EQ(log->AddProvider(&duplicate, nullptr), -1);
    EXPECT_EQ(log->AddProvider(&duplicate, L""), -1);
    EXPECT_EQ(duplicate.InitCalls(), 0);

    Configure(5, 1);
    log->WriteLog(3, kSource, kFunction, 1, L"r");
    EXPECT_TRUE(other.Writes().empty());
    EXPECT_EQ(journal.Writes().size(), 1u);

    // Further names get numbers after the four fixed ones, never one of theirs.
    RecordingProvider* extra = Add(L"extra");
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(config.RegisterProviderName(L"another"), 6);
    EXPECT_EQ(config.RegisterProviderName(L"wnd"), -1);
    Configure(5, 5);
    journal.Clear();
    log->WriteLog(3, kSource, kFunction, 1, L"r");
    EXPECT_EQ(Sequence(), Order{L"extra:" + LastText(journal)});
}

TEST(LogConfigTest, FixedProviderNumbers) {
    corvanelib::CommonConfig config;
    EXPECT_EQ(config.Threshold(), -1);
    EXPECT_EQ(config.OutputKind(), -1);
    EXPECT_EQ(config.RegisterProviderName(L"wnd"), 4);
    EXPECT_EQ(config.RegisterProviderName(L"file"), 1);
    EXPECT_EQ(config.RegisterProviderName(L"vsdebug"), 3);
    EXPECT_EQ(config.RegisterProviderName(L"critfile"), 2);
    EXPECT_EQ(config.RegisterProviderName(L"file"), -1);
    EXPECT_EQ(config.RegisterProviderName(L"FILE"), 5); // names compare exactly
    EXPECT_EQ(config.RegisterProviderName(nullptr), -1);
}

// Logs through its own log object while that object deletes it.
class LoggingProvider : public RecordingProvider {
public:
    LoggingProvider(WriteJournal& journal, corvanelib::Log*& log, int& result)
        : RecordingProvider(L"logging", journal), m_log(log), m_result(result) {}
    ~LoggingProvider() override { m_result = m_log->WriteLog(1, kSource, kFunction, 1, L"late"); }

private:
    corvanelib::Log*& m_log;
    int& m_result;
};

TEST_F(LogRoutingTest, MutedLogWritesNothingAndDestructionMutesFirst) {
    Configure(5, 1);
    EXPECT_EQ(log->SetMuted(1), 0);
    EXPECT_EQ(log->WriteLog(1, kSource, kFunction, 1, L"r"), 0);
    EXPECT_TRUE(journal.Writes().empty());
    EXPECT_EQ(log->SetMuted(0), 1);
    EXPECT_EQ(log->WriteLog(3, kSource, kFunction, 1, L"r"), 0);
    EXPECT_EQ(journal.Writes().size(), 1u);

    corvanelib::Log* raw = log.get();
    int lateResult = 99;
    auto* logging = new LoggingProvider(journal, raw, lateResult);
    ASSERT_EQ(log->AddProvider(logging, L"logging"), 0);
    journal.Clear();
    log.reset();
    EXPECT_EQ(lateResult, 0);
    EXPECT_TRUE(journal.Writes().empty());
}

// Changes the last error in every write, as real outputs do.
class ErrorSettingProvider : public RecordingProvider {
public:
    using RecordingProvider::RecordingProvider;
    int Write(const wchar_t* text, int length) override {
        SetLastError(ERROR_WRITE_FAULT);
        return RecordingProvider::Write(text, length);
    }
};

// Holds the log's lock from inside the first Write until released.
class BlockingProvider : public RecordingProvider {
public:
    using RecordingProvider::RecordingProvider;
    ~BlockingProvider() override {
        CloseHandle(entered);
        CloseHandle(release);
    }
    int Write(const wchar_t* text, int length) override {
        atEntry = text;
        SetEvent(entered);
        WaitForSingleObject(release, 120000);
        atExit = text;
        return RecordingProvider::Write(text, length);
    }
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::wstring atEntry;
    std::wstring atExit;
};

TEST(LogLockTest, RecordPathKeepsTheCallersLastError) {
    WriteJournal journal;
    corvanelib::CommonConfig config;
    corvanelib::Log log(&config);
    ASSERT_EQ(log.AddProvider(new ErrorSettingProvider(L"file", journal), L"file"), 0);
    LogConfigAccess::SetLevels(config, 5, 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    log.WriteLog(5, kSource, kFunction, 1, L"TryRepairCorvaneMgr()=%u,errno=%u", 0u, 122u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(journal.Writes().size(), 1u);
}

TEST(LogLockTest, RecordThatCannotGetTheLockInTimeIsDroppedWithoutTouchingTheBuffers) {
    WriteJournal journal;
    corvanelib::CommonConfig config;
    corvanelib::Log log(&config);
    auto* blocking = new BlockingProvider(L"file", journal);
    ASSERT_EQ(log.AddProvider(blocking, L"file"), 0);
    LogConfigAccess::SetLevels(config, 5, 1);

    std::thread first([&] { log.WriteLog(3, kSource, kFunction, 1, L"first record"); });
    ASSERT_EQ(WaitForSingleObject(blocking->entered, 60000), WAIT_OBJECT_0);

    SetLastError(ERROR_ACCESS_DENIED);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(log.WriteLog(3, kSource, kFunction, 1, L"second record"), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(14500));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    SetEvent(blocking->release);
    first.join();
    EXPECT_NE(blocking->atEntry.find(L"first record"), std::wstring::npos);
    EXPECT_EQ(blocking->atExit, blocking->atEntry);
    ASSERT_EQ(journal.Writes().size(), 1u);
}

} // namespace
