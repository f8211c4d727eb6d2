// Records per second written to a log file, each flushed to the system before the next:
//  - "fwrite+fflush": the same encoded line through the C runtime, the floor for a log that
//    hands every record to the system;
//  - "file provider": FileLogProvider::Write (encoding, end-of-file seek, write);
//  - "WriteLog": a record through the process-wide log (lock, header, formatting) to the file.
// Usage: log_file_bench [records]   (default 20000)
#include "corvanelib/log/FileLogProvider.h"
#include "corvanelib/log/InitLog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

const wchar_t kRecord[] = L"1206-20:37:51\t[I] Worker.cpp:105(corvanelib::WinThread::Start)"
                          L"{log_file_bench.exe-3120-3364}:\tNew Thread Created, Thread ID is 3364";

double PerSecond(long records, Clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    return seconds > 0 ? records / seconds : 0;
}

std::wstring TempDirectory() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring directory =
        std::wstring(temp) + L"cvn_log_bench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(directory.c_str(), nullptr);
    return directory;
}

} // namespace

int main(int argc, char** argv) {
    const long records = argc > 1 ? std::atol(argv[1]) : 20000;
    const std::wstring directory = TempDirectory();
    const int length = static_cast<int>(wcslen(kRecord));

    // The plain loop writes the line the provider would write.
    char line[512];
    const int bytes = WideCharToMultiByte(corvanelib::FileLogProvider::kCodePage, 0, kRecord,
                                          length, line, sizeof(line) - 2, nullptr, nullptr);
    line[bytes] = '\r';
    line[bytes + 1] = '\n';
    const std::wstring plainPath = directory + L"\\plain.log";
    std::FILE* plain = _wfopen(plainPath.c_str(), L"wb");
    if (plain == nullptr) {
        std::printf("cannot create %ls\n", plainPath.c_str());
        return 1;
    }
    auto start = Clock::now();
    for (long i = 0; i < records; ++i) {
        std::fwrite(line, 1, static_cast<size_t>(bytes) + 2, plain);
        std::fflush(plain);
    }
    const double plainRate = PerSecond(records, Clock::now() - start);
    std::fclose(plain);

    corvanelib::CommonConfig config;
    config.Init(5, 1, L"provider.log", L"log", directory.c_str());
    double providerRate = 0;
    {
        corvanelib::FileLogProvider provider;
        provider.Init(&config);
        start = Clock::now();
        for (long i = 0; i < records; ++i) {
            provider.Write(kRecord, length);
        }
        providerRate = PerSecond(records, Clock::now() - start);
    }

    corvanelib::InitLog(5, 1, L"front.log", L"log", directory.c_str());
    start = Clock::now();
    for (long i = 0; i < records; ++i) {
        corvanelib::g_commonLog.WriteLog(3, L".\\Worker", L"corvanelib::WinThread::Start", 105,
                                         L"New Thread Created, Thread ID is %u", 3364u);
    }
    const double frontRate = PerSecond(records, Clock::now() - start);

    std::printf("records: %ld (%d characters each)\n", records, length);
    std::printf("fwrite+fflush   %12.0f records/s\n", plainRate);
    std::printf("file provider   %12.0f records/s  (%.2f of fwrite+fflush)\n", providerRate,
                plainRate > 0 ? providerRate / plainRate : 0);
    std::printf("WriteLog        %12.0f records/s  (%.2f of fwrite+fflush)\n", frontRate,
                plainRate > 0 ? frontRate / plainRate : 0);

    corvanelib::g_commonLog.SetMuted(1);
    DeleteFileW(plainPath.c_str());
    DeleteFileW((directory + L"\\provider.log").c_str());
    return 0;
}
