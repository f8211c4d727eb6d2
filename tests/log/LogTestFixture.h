// A private log object on its own configuration, with the four recording providers registered
// under their usual names and one journal for all of them.
#pragma once

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace corvane_test {

class LogFixture : public ::testing::Test {
protected:
    LogFixture() {
        log = std::make_unique<corvanelib::Log>(&config);
        file = Add(L"file");
        critfile = Add(L"critfile");
        vsdebug = Add(L"vsdebug");
        wnd = Add(L"wnd");
    }

    RecordingProvider* Add(const wchar_t* name) {
        auto provider = std::make_unique<RecordingProvider>(name, journal);
        if (log->AddProvider(provider.get(), name) != 0) {
            ADD_FAILURE() << "provider not added";
            return nullptr;
        }
        return provider.release();
    }

    void Configure(int threshold, int outputKind) {
        LogConfigAccess::SetLevels(config, threshold, outputKind);
    }

    // "provider:text" for every write, in order.
    std::vector<std::wstring> Sequence() const {
        std::vector<std::wstring> sequence;
        for (const ProviderWrite& write : journal.Writes()) {
            sequence.push_back(write.provider + L":" + write.text);
        }
        return sequence;
    }

    // The message part of the single record written, or "" when not exactly one was.
    std::wstring OnlyMessage() const {
        const auto writes = journal.Writes();
        LogRecord record;
        if (writes.size() != 1 || !ParseLogRecord(writes[0].text, record)) {
            return L"";
        }
        return record.message;
    }

    WriteJournal journal;
    corvanelib::CommonConfig config;
    std::unique_ptr<corvanelib::Log> log;
    RecordingProvider* file = nullptr;
    RecordingProvider* critfile = nullptr;
    RecordingProvider* vsdebug = nullptr;
    RecordingProvider* wnd = nullptr;
};

} // namespace corvane_test
