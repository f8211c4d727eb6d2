// What the log needs to know: level threshold, output kind, provider numbers, and the settings
// read from the configuration file. One CommonConfig exists per process (g_commonConfig); the
// process-wide log object reads its threshold and output kind on every call, without a lock.
//
// Constructed state: threshold -1 and output kind -1, so nothing is logged until the
// configuration is initialised.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <string>

#include "corvanelib/Win32/Synchronization/Lock.h"
#include "corvanelib/Win32/Synchronization/Thread.h"

namespace corvanelib {

// The configuration file the watcher follows.
extern const wchar_t kLogConfigFile[];

// The fixed provider numbers; the log object relies on kFileProvider and kCritFileProvider.
enum ProviderNumber : int {
    kFileProvider = 1,
    kCritFileProvider = 2,
    kDebugOutputProvider = 3,
    kWindowProvider = 4,
};

// A thread (privately: outside code cannot treat it as one) that watches the configuration file
// once its owner starts it. Nothing starts it in the console.
class LogConfig : private WinThread {
public:
    LogConfig();
    ~LogConfig() override;

    // Highest level written; -1 until initialised.
    int Threshold() const { return m_threshold.load(std::memory_order_relaxed); }
    // Number of the provider that receives records; -1 until initialised.
    int OutputKind() const { return m_outputKind.load(std::memory_order_relaxed); }

    // Puts threshold and output kind in force and stores the log file's name, the configuration
    // section whose keys become the settings, and the log directory: `directory` followed by one
    // backslash, or by default the system directory followed by "\config\cvnlog\" (created
    // when missing; a directory that cannot be made is stored all the same, and the file
    // providers then find no file). Returns 2, changing nothing, when name or section is null.
    // Meant to run before records flow (InitLog does it); the strings are stored under the
    // configuration's mutex so that a running watcher never reads a half-written section.
    virtual int Init(int threshold, int outputKind, const wchar_t* name, const wchar_t* section,
                     const wchar_t* directory);

    // 0 and the value of setting `key` (compared exactly; the keys are lower case) in `value`;
    // -1 when there is no such setting. Takes the configuration's mutex, which the watcher holds
    // only to swap in settings it has read without it, so a lookup never waits for a read of the
    // file. The log calls this under its own lock; the watcher never logs while it holds the
    // mutex, so the two locks are always taken in that order.
    int GetSetting(const wchar_t* key, std::wstring& value);

    // The log file: directory followed by name.
    std::wstring GetLogPath();

    // Starts the watcher, which follows kLogConfigFile and rebuilds the settings whenever its
    // write time changes. Initialising the log does not start it: the owner of the
    // configuration does, when it wants the settings to follow the file (the console never
    // does). A watcher that has been stopped stays stopped: its stop request is never cleared.
    // Returns whether the thread runs.
    bool StartWatcher();

    // Stops the watcher: a read of the file under way gives up, and the thread ends within
    // 1000 ms (after that it is terminated; it holds no lock of the configuration while it
    // reads). Every destructor in the hierarchy calls this first, so the watcher never runs on a
    // half-destroyed object. An owner that started the watcher may stop it earlier, for instance
    // before the log object goes away. Returns false when the thread had to be terminated.
    bool StopWatcher();

    // Number for a provider name: "file" 1, "critfile" 2, "vsdebug" 3, "wnd" 4, any other name
    // the next free number above 4. -1 when the name is null, empty or already registered.
    // Not locked: providers are registered before records flow.
    int RegisterProviderName(const wchar_t* name);

protected:
    // The watcher: checks the configuration file at once and then every 2000 ms until asked to
    // stop.
    void ThreadStart() override;
    // Rebuilds the settings from the configuration file: reads them without m_mutex and swaps
    // them in under it. False when the file could not be read in full (or memory ran out, or a
    // stop was requested meanwhile): the settings are then left as they were.
    virtual bool Reload() = 0;
    // Rereads the file (through Reload) when its last write time differs from the one last seen.
    // A file that cannot be queried leaves the settings as they are; one that cannot be read is
    // tried again at the next check. Runs on one thread at a time (the watcher's).
    virtual void CheckConfigChanged();
    // For a read of the file: true once the watcher is asked to stop. `configuration` is the
    // LogConfig.
    static bool ReadStopped(void* configuration);

    // Puts threshold and output kind in force.
    void SetLevels(int threshold, int outputKind);

    // Read by logging threads while the owner or the watcher may store them.
    std::atomic<int> m_threshold{-1};
    std::atomic<int> m_outputKind{-1};
    int m_nextProviderNumber = kWindowProvider;
    std::map<std::wstring, std::wstring> m_settings;
    std::wstring m_name;
    std::wstring m_directory;
    std::wstring m_section;
    SYSTEMTIME m_lastWriteTime = {}; // the watcher's own
    Mutex m_mutex; // guards the settings and the strings; never held while the file is read
    std::map<std::wstring, int> m_providerNumbers;
};

// The process's configuration: reads the settings from kLogConfigFile.
class CommonConfig : public LogConfig {
public:
    CommonConfig() = default;
    ~CommonConfig() override;

protected:
    bool Reload() override;
};

} // namespace corvanelib
