// The log front: a private log object on its own configuration with recording outputs.
#include "LogCapture.h"
#include "WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

using corvane_test::RecordingProvider;
using corvane_test::WaitFor;

namespace {

const wchar_t kNotice[] = L"无法打开指定的设备，日志写入文件中";

class LogFront : public ::testing::Test {
protected:
    RecordingProvider* Add(const wchar_t* name, int result = 0) {
        auto* provider = new RecordingProvider(name, journal);
        provider->SetWriteResult(result);
        EXPECT_EQ(log->AddProvider(provider, name), 0); // the log owns what it accepts
        return provider;
    }
    int Write(int threshold, int kind, int level, const wchar_t* source = L"") {
        corvane_test::LogConfigAccess::SetLevels(config, threshold, kind);
        return log->WriteLog(level, source, L"F", 12, L"m");
    }
    // The writes since the last call: each provider with the record's level letter, or with
    // "notice" and its length.
    std::wstring Writes() {
        std::wstring listed;
        for (const corvane_test::ProviderWrite& w : journal.Writes()) {
            listed +=
                w.provider + L":" +
                (w.text == kNotice ? L"notice" + std::to_wstring(w.length) : w.text.substr(15, 1)) +
                L" ";
        }
        journal.Clear();
        return listed;
    }

    corvane_test::WriteJournal journal;
    corvanelib::CommonConfig config;
    std::unique_ptr<corvanelib::Log> log = std::make_unique<corvanelib::Log>(&config);
};

TEST_F(LogFront, LevelsAndOutputKindDecideWhereARecordGoes) {
    EXPECT_EQ(Write(5, 3, 1), -1); // nothing registered: nowhere to write, no echo
    RecordingProvider* file = Add(L"file", 11);
    EXPECT_EQ(Write(5, 3, 2), 11);
    EXPECT_EQ(Writes(), L"file:notice17 file:E ");
    Add(L"critfile", 22);
    Add(L"vsdebug", 33);
    RecordingProvider* wnd = Add(L"wnd", 44);
    const struct {
        int threshold, kind, level, unavailable, result;
        const wchar_t* writes;
    } cases[] = {
        {-1, 3, 0, 0, 0, L""},
        {3, 3, 4, 0, 0, L""},
        {100, 3, 6, 0, 0, L""},
        {100, 3, -1, 0, 0, L""},
        {100, 3, 5, 0, 33, L"vsdebug:R "},
        {4, 3, 4, 0, 33, L"vsdebug:D "},
        {3, 3, 3, 0, 33, L"vsdebug:I "},
        {5, 3, 1, 0, 33, L"critfile:C vsdebug:C "},
        {5, 2, 0, 0, 22, L"critfile:N critfile:N "},
        {5, 4, 2, 0, 44, L"wnd:E "},
        {5, 4, 0, 700, 11, L"file:notice17 critfile:N file:N "},
        {5, 1, 1, 1, -1, L""}, // the file itself has no fallback
    };
    for (const auto& c : cases) {
        wnd->SetUnavailable(c.unavailable);
        file->SetUnavailable(c.unavailable == 1);
        EXPECT_EQ(Write(c.threshold, c.kind, c.level), c.result) << c.writes;
        EXPECT_EQ(Writes(), c.writes);
    }
    EXPECT_EQ(log->AddProvider(file, L"file"), -1); // each name once
    EXPECT_EQ(config.RegisterProviderName(L"another"), 5);
    EXPECT_EQ(log->SetMuted(1), 0);
    EXPECT_EQ(Write(5, 1, 1), 0);
}

TEST_F(LogFront, HeaderFieldsAndMessagesAreBounded) {
    Add(L"file");
    corvane_test::LogConfigAccess::SetLevels(config, 5, 1);
    log->WriteLogA(3, L".\\src\\Worker", L"F", 105, "%ls=%d %s", L"wide", 42, "narrow");
    // The file field is name and extension, both bounded; a part that does not fit empties it.
    const std::wstring n63(63, L'n'), m62(62, L'm');
    for (const std::wstring& source :
         {std::wstring(L"D:Drive.cpp"), std::wstring(L"a/b\\c/S.tiny7"), std::wstring(L"S.longext"),
          n63 + L".cpp", m62 + L".c", std::wstring(64, L'o')}) {
        log->WriteLog(4, source.c_str(), L"F", 1, L"m");
    }
    // Messages are cut to the buffers: 8191 characters in all, 1023 bytes of a narrow message.
    log->WriteLog(4, L"", L"F", 1, L"%s", std::wstring(9000, L'x').c_str());
    log->WriteLogA(4, L"", L"F", 1, "%s", std::string(2000, 'y').c_str());
    // WriteLogLine overwrites the trailing line ends with NULs, inside the length it passes on.
    log->WriteLogLine(4, L"", L"F", 1, L"a\n\r\n");
    const std::wstring tail = L"(F){log_test.exe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetCurrentThreadId()) + L"}:\t";
    const auto writes = journal.Writes();
    ASSERT_EQ(writes.size(), 10u);
    std::wstring fields;
    for (size_t i = 0; i < 7; ++i) {
        fields += writes[i].text.substr(14) + L"|";
    }
    const std::wstring m = L":1" + tail + L"m|[D] ";
    EXPECT_EQ(fields, L"[I] Worker:105" + tail + L"wide=42 narrow|[D] Drive.cpp" + m + L"S.tiny7" +
                          m + m + n63 + m + m62 + L"." + m + L":1" + tail + L"m|");
    EXPECT_EQ(writes[7].length, 8191);
    EXPECT_EQ(writes[8].text.substr(writes[8].text.size() - 1024),
              L"\t" + std::wstring(1023, L'y'));
    EXPECT_EQ(writes[9].counted.substr(writes[9].text.size() - 2), std::wstring(L"\ta\0\0\0", 5));
}

// Holds its write until released, setting the last error as real outputs do; tells when it is
// deleted.
struct BlockingProvider : RecordingProvider {
    BlockingProvider(corvane_test::WriteJournal& journal, std::atomic<int>& state)
        : RecordingProvider(L"file", journal), state(state) {}
    ~BlockingProvider() override { state = 3; }
    int Write(const wchar_t*, int) override {
        state = 1;
        WaitFor([this] { return state == 2; }, std::chrono::minutes(2));
        SetLastError(ERROR_WRITE_FAULT);
        return 0;
    }
    std::atomic<int>& state; // 1: writing, 2: released, 3: deleted
};

TEST_F(LogFront, DestructionWaitsForTheRecordUnderWayAndCallersKeepTheirLastError) {
    std::atomic<int> state{0};
    ASSERT_EQ(log->AddProvider(new BlockingProvider(journal, state), L"file"), 0);
    corvane_test::LogConfigAccess::SetLevels(config, 5, 1);
    DWORD writerError = 0;
    std::thread writer([&] {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        log->WriteLog(5, L"", L"F", 1, L"first");
        writerError = GetLastError();
    });
    ASSERT_TRUE(WaitFor([&] { return state == 1; }));
    std::thread destroyer([&] { log.reset(); });
    EXPECT_FALSE(WaitFor([&] { return state == 3; }, std::chrono::milliseconds(500)));
    state = 2;
    writer.join();
    destroyer.join();
    EXPECT_EQ(state.load(), 3);
    EXPECT_EQ(writerError, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

} // namespace
