#include "LogCapture.h"

#include "corvanelib/Win32/Synchronization/Thread.h"

#include <gtest/gtest.h>

#include <string>

using corvane_test::LogCapture;
using corvanelib::g_commonConfig;
using corvanelib::g_commonLog;

namespace {

class IdleWorker : public corvanelib::WinThread {
public:
    IdleWorker() : WinThread(L"idle") {}
    ~IdleWorker() override { Stop(20000); }

protected:
    void ThreadStart() override {}
};

TEST(LogCaptureTest, UnconfiguredLogIsSilentAndCaptureSeesTheRecords) {
    EXPECT_EQ(g_commonConfig.Threshold(), -1);
    EXPECT_EQ(g_commonConfig.OutputKind(), -1);
    for (int level = 0; level <= 5; ++level) {
        EXPECT_EQ(g_commonLog.WriteLog(level, L".\\Tasks", L"f", 1, L"silent"), 0);
    }
    {
        LogCapture capture(4);
        ASSERT_TRUE(capture.Active());
        g_commonLog.WriteLog(4, L".\\service\\Tasks", L"corvanelib::CorvaneTasks::Check", 77,
                             L"state %s", L"running");
        g_commonLog.WriteLogA(5, L".\\service\\Tasks", L"corvanelib::CorvaneTasks::Check", 78,
                              "filtered");
        g_commonLog.WriteLogA(2, L".\\Other", L"other", 3, "errno=%u", 5u);
        const auto records = capture.RecordsOf(L"corvanelib::CorvaneTasks::Check");
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, 4);
        EXPECT_EQ(records[0].file, L"Tasks");
        EXPECT_EQ(records[0].line, 77);
        EXPECT_EQ(records[0].message, L"state running");
        EXPECT_EQ(capture.Records().size(), 2u);
    }
    EXPECT_EQ(g_commonConfig.Threshold(), -1);
    EXPECT_EQ(g_commonLog.WriteLog(1, L".\\Tasks", L"f", 1, L"silent again"), 0);
}

TEST(LogCaptureTest, ThreadStartIsLogged) {
    LogCapture capture;
    IdleWorker worker;
    ASSERT_TRUE(worker.Start());
    const DWORD id = worker.ThreadId();
    EXPECT_TRUE(worker.Stop(20000));
    const auto records = capture.RecordsOf(L"corvanelib::WinThread::Start");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, 3);
    EXPECT_EQ(records[0].file, L"Thread");
    EXPECT_EQ(records[0].message, L"New Thread Created, Thread ID is " + std::to_wstring(id));
}

} // namespace
