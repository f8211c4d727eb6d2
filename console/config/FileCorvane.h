// CFileCorvane: the user's authentication options, stored in userconfig.ini, which the
// console writes and the admission service reads.
//
//   [GatewayIp]   specify = 1 | 0          ipaddr = a.b.c.d | (empty)
//   [LastConnect] gateway = a.b.c.d        (0.0.0.0 when none)
//   [AutoAuthen]  enable = 1 | 0           username = text      password = text
//
// Every other key and line of the file is kept as it stands. After each successful save the
// helper program "vedevaru.exe" in the program directory is started with "-pnotify".
#pragma once

#include <cstdint>
#include <string>

namespace corvane::console::config {

// Starts a program and does not wait for it. The record starts the helper through this seam,
// so that tests can see the start without a process.
class IProgramLauncher {
public:
    virtual ~IProgramLauncher() = default;
    // `program` is a full path; `directory` the working directory. The window is hidden.
    virtual void Launch(const std::string& program, const char* parameters,
                        const std::string& directory) = 0;
};

// The launcher the console uses: ShellExecuteA with the verb "open" and a hidden window.
IProgramLauncher& ShellProgramLauncher();

} // namespace corvane::console::config

class CFileCorvane {
public:
    static constexpr std::size_t kTextBytes = 288; // user name and password buffers
    static const char* const kHelperProgram;       // "vedevaru.exe"
    static const char* const kHelperParameters;    // "-pnotify"

    // `programDirectory` is the folder of the program file with its trailing backslash; the
    // helper program is started from there. `launcher` defaults to ShellProgramLauncher().
    explicit CFileCorvane(std::string programDirectory,
                          corvane::console::config::IProgramLauncher* launcher = nullptr);
    virtual ~CFileCorvane();

    // Loads the options from `path` (null: the path of the last load or save). 0 on success;
    // -1 when there is no path or the file cannot be read, and the record then keeps what it
    // held.
    int LoadUserConfig(const char* path);

    // Where a save takes the last gateway from: the record, or the file as it is at that
    // moment (the service writes it; the record's value may be stale by then).
    enum class LastGateway { FromRecord, AsInFile };

    // Writes the options into `path` (null as for loading), keeping every other key of an
    // existing file, then starts the helper program. The file is one that holds secrets
    // (corvane::console::config::WriteProtectedFile): created closed to ordinary users, and refused
    // when its folder or the file has an untrusted owner. 0 on success; -1 when there is no path,
    // when the user name or password holds a line break, when the file exists but cannot be
    // read (its other keys would be lost), or when it could not be written: then nothing is
    // started, the last error holds the system's code for the failure (ERROR_INVALID_PARAMETER
    // for the first two) and the file is left as it was.
    int SaveUserConfig(const char* path, LastGateway last = LastGateway::FromRecord);

    // Copy at most 287 bytes into the buffer, never splitting a double-byte character.
    void SetUserName(const char* text);
    void SetPassword(const char* text);

    const std::string& Path() const { return m_path; }

    // Addresses are in network byte order (first octet in the lowest-addressed byte);
    // 0 means none (fixed gateway 0: the gateway is searched automatically).
    std::uint32_t m_fixedGateway = 0;
    std::uint32_t m_lastGateway = 0;
    std::int32_t m_autoAuthen = 0; // 0 or 1
    char m_userName[kTextBytes] = {};
    char m_password[kTextBytes] = {};

    // "a.b.c.d" over the four bytes in memory order.
    static std::string FormatAddress(std::uint32_t address);
    // Four decimal numbers 0..255 without leading zeros, separated by dots; anything else,
    // and the all-ones address 255.255.255.255, gives 0.
    static std::uint32_t ParseAddress(const std::string& text);

private:
    bool TakePath(const char* path);

    std::string m_path;
    std::string m_programDirectory;
    corvane::console::config::IProgramLauncher* m_launcher;
};
