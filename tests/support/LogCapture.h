// Capturing log records in tests (Windows; link corvanelib_log and corvane_test_support).
//
// LogCapture switches the process-wide log on for its lifetime and collects every record
// written through corvanelib::g_commonLog, parsed into level, function and message:
//
//   #include "LogCapture.h"
//
//   TEST(StartCorvaneMgr, LogsTheFailure) {
//       corvane::test::LogCapture capture;            // all levels 0 to 5
//       ...                                          // code under test logs
//       auto records = capture.RecordsOf(L"corvanelib::CorvaneTasks::StartCorvaneMgr");
//       ASSERT_EQ(records.size(), 1u);
//       EXPECT_EQ(records[0].level, 1);
//       EXPECT_EQ(records[0].message, L"...");
//   }
//
// On first use in a process it registers one recording provider with g_commonLog as the log
// file ("file"); the log owns it until the process ends. Each LogCapture sets the threshold
// (5 unless given) and sends records to that provider; its destructor puts the previous
// threshold and output kind back (the unconfigured log writes nothing). Use one LogCapture at a
// time, and do not combine it with code that initialises the log itself.
//
// RecordingProvider and LogConfigAccess are the building blocks, for tests of the log itself.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "corvanelib/log/CorvaneLog.h"

namespace corvane::test {

// Puts threshold and output kind in force through the configuration's initialisation, with a
// log file name and directory that nothing opens.
struct LogConfigAccess {
    static void SetLevels(corvanelib::LogConfig& configuration, int threshold, int outputKind) {
        configuration.Init(threshold, outputKind, L"capture.log", L"log", L".");
    }
};

// One Write call as a provider received it.
struct ProviderWrite {
    std::wstring provider; // name given to the RecordingProvider
    std::wstring text;     // up to the terminating NUL
    std::wstring counted;  // exactly `length` characters, NULs included
    int length;
};

// Shared record of Write calls across several providers, in call order.
class WriteJournal {
public:
    void Add(ProviderWrite write) {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_writes.push_back(std::move(write));
    }
    std::vector<ProviderWrite> Writes() const {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_writes;
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_writes.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<ProviderWrite> m_writes;
};

// A provider that appends each Write to a journal. Availability and Write's result are
// settable; the journal must outlive the provider.
class RecordingProvider : public corvanelib::LogProvider {
public:
    RecordingProvider(std::wstring name, WriteJournal& journal)
        : m_name(std::move(name)), m_journal(journal) {}

    int Init(corvanelib::LogConfig*) override { return 0; }
    int Write(const wchar_t* text, int length) override {
        m_journal.Add(
            {m_name, text, std::wstring(text, static_cast<size_t>(std::max(length, 0))), length});
        return m_writeResult;
    }
    int LockedWrite(const wchar_t* text, int length, int /*reserved*/) override {
        return Write(text, length);
    }
    void Close() override {}
    int IsUnavailable() override { return m_unavailable; }

    void SetUnavailable(int value) { m_unavailable = value; }
    void SetWriteResult(int value) { m_writeResult = value; }

private:
    std::wstring m_name;
    WriteJournal& m_journal;
    int m_unavailable = 0;
    int m_writeResult = 0;
};

// A record's level (-1 for a letter outside the table), function and message.
struct LogRecord {
    int level = -1;
    std::wstring function;
    std::wstring message;
};

// Splits "MMDD-HH:MM:SS\t[L] file:line(function){program-pid-tid}:\tmessage"; false when the
// text is not a record.
inline bool ParseLogRecord(const std::wstring& text, LogRecord& record) {
    const size_t open = text.find(L'(', 18);
    const size_t close = text.find(L"){", 18);
    const size_t end = text.find(L"}:\t", 18);
    if (text.size() < 19 || text.compare(13, 2, L"\t[") != 0 || !(open < close && close < end) ||
        end == std::wstring::npos) {
        return false;
    }
    const size_t letter = std::wstring(L"NCEIDR").find(text[15]);
    record = {letter != std::wstring::npos ? static_cast<int>(letter) : -1,
              text.substr(open + 1, close - open - 1), text.substr(end + 3)};
    return true;
}

class LogCapture {
public:
    explicit LogCapture(int threshold = 5)
        : m_previousThreshold(corvanelib::g_commonConfig.Threshold()),
          m_previousOutputKind(corvanelib::g_commonConfig.OutputKind()) {
        Shared().journal.Clear();
        LogConfigAccess::SetLevels(corvanelib::g_commonConfig, threshold,
                                   Shared().registered ? corvanelib::kFileProvider : -1);
    }
    ~LogCapture() {
        LogConfigAccess::SetLevels(corvanelib::g_commonConfig, m_previousThreshold,
                                   m_previousOutputKind);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every record written since construction (or Clear), in order.
    std::vector<LogRecord> Records() const { return RecordsOf(L""); }
    // The records written by one function (its qualified name as logged; all when empty).
    std::vector<LogRecord> RecordsOf(const std::wstring& function) const {
        std::vector<LogRecord> records;
        LogRecord record;
        for (const ProviderWrite& write : Shared().journal.Writes()) {
            if (ParseLogRecord(write.text, record) &&
                (function.empty() || record.function == function)) {
                records.push_back(record);
            }
        }
        return records;
    }
    void Clear() { Shared().journal.Clear(); }

private:
    struct State {
        WriteJournal journal;
        bool registered = corvanelib::g_commonLog.AddProvider(
                              new RecordingProvider(L"capture", journal), L"file") == 0;
    };
    // Lives until the process ends: the log object, destroyed at exit, owns the provider that
    // writes into the journal. The log is muted before it deletes its providers.
    static State& Shared() {
        static State* state = new State();
        return *state;
    }

    int m_previousThreshold;
    int m_previousOutputKind;
};

} // namespace corvane::test
