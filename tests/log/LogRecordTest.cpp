#include "LogTestFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using corvane_test::LogFixture;
using corvane_test::LogRecord;
using corvane_test::ParseLogRecord;

namespace {

const wchar_t kSource[] = L".\\Tests\\Record";
const wchar_t kFunction[] = L"corvanelib::Test::Record";

std::wstring Stamp(const SYSTEMTIME& t) {
    wchar_t text[32];
    swprintf(text, 32, L"%02d%02d-%02d:%02d:%02d", t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::wstring ProgramName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path);
    return full.substr(full.find_last_of(L"\\/") + 1);
}

using LogRecordTest = LogFixture;

TEST_F(LogRecordTest, OnlyLevelsUpToTheThresholdAreWritten) {
    // Constructed configuration: threshold -1 lets nothing through, negative levels included.
    for (int level = -2; level <= 6; ++level) {
        EXPECT_EQ(log->WriteLog(level, kSource, kFunction, 1, L"w%d", level), 0);
        EXPECT_EQ(log->WriteLogLine(level, kSource, kFunction, 1, L"l%d", level), 0);
        EXPECT_EQ(log->WriteLogA(level, kSource, kFunction, 1, "a%d", level), 0);
    }
    EXPECT_TRUE(journal.Writes().empty());

    Configure(3, 3);
    vsdebug->SetWriteResult(7);
    critfile->SetWriteResult(9);
    for (int level = -2; level <= 6; ++level) {
        const int expected = level >= 0 && level <= 3 ? 7 : 0;
        EXPECT_EQ(log->WriteLog(level, kSource, kFunction, 1, L"w%d", level), expected) << level;
    }
    std::wstring letters;
    for (const auto& write : journal.Writes()) {
        LogRecord record;
        ASSERT_TRUE(ParseLogRecord(write.text, record));
        if (write.provider == L"vsdebug") {
            letters += write.text[15];
            EXPECT_EQ(record.message, L"w" + std::to_wstring(record.level));
        }
    }
    EXPECT_EQ(letters, L"NCEI");

    // Levels outside the table are never written, whatever the threshold.
    Configure(100, 3);
    journal.Clear();
    EXPECT_EQ(log->WriteLog(6, kSource, kFunction, 1, L"six"), 0);
    EXPECT_EQ(log->WriteLog(-1, kSource, kFunction, 1, L"minus"), 0);
    EXPECT_EQ(log->WriteLog(5, kSource, kFunction, 1, L"five"), 7);
    EXPECT_EQ(journal.Writes().size(), 1u);
}

TEST_F(LogRecordTest, RecordIsHeaderThenMessageWithoutLineEnd) {
    Configure(5, 3);
    SYSTEMTIME before;
    GetLocalTime(&before);
    log->WriteLog(3, L".\\src\\Worker", L"corvanelib::WinThread::Start", 105, L"%s=%d %hs 100%%",
                  L"wide", 42, "narrow");
    SYSTEMTIME after;
    GetLocalTime(&after);

    const auto writes = journal.Writes();
    ASSERT_EQ(writes.size(), 1u);
    const std::wstring& text = writes[0].text;
    const std::wstring expected = L"\t[I] Worker:105(corvanelib::WinThread::Start){" +
                                  ProgramName() + L"-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(GetCurrentThreadId()) +
                                  L"}:\twide=42 narrow 100%";
    ASSERT_GE(text.size(), 13u);
    EXPECT_EQ(text.substr(13), expected);
    const std::wstring stamp = text.substr(0, 13);
    EXPECT_TRUE(stamp == Stamp(before) || stamp == Stamp(after)) << stamp;
    EXPECT_EQ(writes[0].length, static_cast<int>(text.size()));
}

TEST_F(LogRecordTest, FileFieldIsNameAndExtensionOrEmptyWhenAPartDoesNotFit) {
    Configure(5, 3);
    const std::wstring name63(63, L'n');
    const std::wstring name62(62, L'm');
    const std::wstring name64(64, L'o');
    struct Case {
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
        {L".\\" + name64, L""},
        {L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        journal.Clear();
        log->WriteLog(4, c.path.c_str(), kFunction, 12, L"m");
        const auto writes = journal.Writes();
        ASSERT_EQ(writes.size(), 1u);
        LogRecord record;
        ASSERT_TRUE(ParseLogRecord(writes[0].text, record));
        EXPECT_EQ(record.file, c.field);
        EXPECT_EQ(record.line, 12);
        EXPECT_EQ(record.message, L"m");
    }
    journal.Clear();
    log->WriteLog(4, nullptr, kFunction, 12, L"m");
    LogRecord record;
    ASSERT_EQ(journal.Writes().size(), 1u);
    ASSERT_TRUE(ParseLogRecord(journal.Writes()[0].text, record));
    EXPECT_EQ(record.file, L"");
}

TEST_F(LogRecordTest, LongMessagesAreCutToTheBuffers) {
    Configure(5, 3);
    const std::wstring wide(10000, L'x');
    log->WriteLog(4, kSource, kFunction, 1, L"%s", wide.c_str());
    auto writes = journal.Writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].text.size(), 8191u);
    EXPECT_EQ(writes[0].length, 8191);
    EXPECT_EQ(writes[0].text.back(), L'x');

    // Narrow messages keep at most 1023 bytes.
    for (size_t size : {size_t{2000}, size_t{1023}, size_t{1022}}) {
        SCOPED_TRACE(size);
        journal.Clear();
        const std::string narrow(size, 'y');
        log->WriteLogA(4, kSource, kFunction, 1, "%s", narrow.c_str());
        EXPECT_EQ(OnlyMessage(), std::wstring(size < 1023 ? size : 1023, L'y'));
    }

    // Nothing of a longer record is left behind in the shared buffers.
    journal.Clear();
    log->WriteLogA(4, kSource, kFunction, 1, "%s-%d", "short", 5);
    EXPECT_EQ(OnlyMessage(), L"short-5");
    journal.Clear();
    log->WriteLog(4, kSource, kFunction, 1, L"tiny");
    EXPECT_EQ(OnlyMessage(), L"tiny");
}

TEST_F(LogRecordTest, WriteLogLineDropsTrailingLineEndsButCountsThem) {
    Configure(5, 3);
    struct Case {
        const wchar_t* message;
        std::wstring kept;
        size_t dropped;
    } cases[] = {
        {L"done\r\n", L"done", 2},
        {L"a\n\r\n", L"a", 3},
        {L"x\r\ny", L"x\r\ny", 0},
        {L"\r\n", L"", 2},
    };
    for (const Case& c : cases) {
        journal.Clear();
        log->WriteLogLine(4, kSource, kFunction, 1, L"%s", c.message);
        const auto writes = journal.Writes();
        ASSERT_EQ(writes.size(), 1u);
        LogRecord record;
        ASSERT_TRUE(ParseLogRecord(writes[0].text, record));
        EXPECT_EQ(record.message, c.kept);
        EXPECT_EQ(writes[0].length, static_cast<int>(writes[0].text.size() + c.dropped));
        EXPECT_EQ(writes[0].counted.substr(writes[0].text.size()), std::wstring(c.dropped, L'\0'));
    }
    journal.Clear();
    log->WriteLog(4, kSource, kFunction, 1, L"kept\r\n");
    EXPECT_EQ(OnlyMessage(), L"kept\r\n");
}

} // namespace
