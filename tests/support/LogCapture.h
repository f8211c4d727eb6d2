// Capturing log records in tests (Windows; link corvanelib_log).
//
// LogCapture switches the process-wide log on for its lifetime and collects every record
// written through corvanelib::g_commonLog, as level and message:
//
//   #include "tests/support/LogCapture.h"
//
//   TEST(StartCorvaneMgr, LogsTheFailure) {
//       corvane::tests::support::LogCapture capture; // all levels 0 to 5
//       ...                                          // code under test logs
//       auto records = capture.RecordsOf(L"corvanelib::CorvaneTasks::StartCorvaneMgr");
//       ASSERT_EQ(records.size(), 1u);
//       EXPECT_EQ(records[0].level, 1);
//       EXPECT_EQ(records[0].message, L"...");
//   }
//
// On first use in a process it registers one recording provider with g_commonLog as the log
// file ("file"); the log owns it until the process ends. Each LogCapture sets the threshold
// to 5 and sends records to that provider; its destructor leaves the log
// unconfigured again, writing nothing. Use one LogCapture at a time, and do not combine it with
// code that initialises the log itself.
//
// WriteJournal and RecordingProvider are the building blocks, for tests of the log itself.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "corvanelib/log/CorvaneLog.h"

namespace corvane::tests::support {

// What recording providers received, in call order: each Write as the provider's name and
// exactly `length` characters, NULs included (the text proper ends at the first NUL).
struct WriteJournal {
    // The writes so far; with `clear` the journal starts again empty.
    std::vector<std::pair<std::wstring, std::wstring>> Writes(bool clear = false) {
        std::lock_guard<std::mutex> hold(mutex);
        return clear ? std::exchange(writes, {}) : writes;
    }

    std::mutex mutex;
    std::vector<std::pair<std::wstring, std::wstring>> writes;
};

// A provider that puts each Write into a journal, which must outlive it, and answers `result`.
struct RecordingProvider : corvanelib::LogProvider {
    RecordingProvider(const wchar_t* name, WriteJournal& journal, int result = 0)
        : name(name), journal(journal), result(result) {}
    int Init(corvanelib::LogConfig*) override { return 0; }
    int Write(const wchar_t* text, int length) override {
        std::lock_guard<std::mutex> hold(journal.mutex);
        journal.writes.emplace_back(name, std::wstring(text, length > 0 ? length : 0));
        return result;
    }
    int LockedWrite(const wchar_t* text, int length, int) override { return Write(text, length); }
    void Close() override {}
    int IsUnavailable() override { return unavailable; }

    std::wstring name;
    WriteJournal& journal;
    int result;
    int unavailable = 0;
};

struct LogRecord {
    int level; // -1 for a letter outside the table
    std::wstring message;
};

class LogCapture {
public:
    // Sets every level on through the configuration's initialisation, with a log file that
    // nothing opens.
    LogCapture() {
        Clear();
        Configure(5, Shared().registered ? corvanelib::kFileProvider : -1);
    }
    ~LogCapture() { Configure(-1, -1); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The records written since construction (or Clear) by one function, its qualified name as
    // logged (all when empty), in order. A record reads
    // "MMDD-HH:MM:SS\t[L] file:line(function){program-pid-tid}:\tmessage".
    std::vector<LogRecord> RecordsOf(const std::wstring& function = L"") const {
        std::vector<LogRecord> records;
        for (const auto& write : Shared().journal.Writes()) {
            const std::wstring text = write.second.c_str();
            const size_t open = text.find(L'('), close = text.find(L"){"), end = text.find(L"}:\t");
            if (open > 15 && open < close && close < end && end < text.size() &&
                (function.empty() || text.compare(open + 1, close - open - 1, function) == 0)) {
                records.push_back({static_cast<int>(std::wstring(L"NCEIDR").find(text[15])),
                                   text.substr(end + 3)});
            }
        }
        return records;
    }
    void Clear() { Shared().journal.Writes(true); }

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
    static void Configure(int threshold, int outputKind) {
        corvanelib::g_commonConfig.Init(threshold, outputKind, L"capture.log", L"log", L".");
    }
};

} // namespace corvane::tests::support
