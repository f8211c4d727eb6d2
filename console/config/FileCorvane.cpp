#include "console/config/FileCorvane.h"

#include "console/config/IniFile.h"
#include "console/config/ProtectedFile.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <utility>

using namespace corvane::console;

const char* const CFileCorvane::kHelperProgram = "vedevaru.exe";
const char* const CFileCorvane::kHelperParameters = "-pnotify";

namespace corvane::console::config {

class ShellLauncher : public IProgramLauncher {
public:
    void Launch(const std::string& program, const char* parameters,
                const std::string& directory) override {
        // The helper's result is not the record's concern: a save has already succeeded.
        ShellExecuteA(nullptr, "open", program.c_str(), parameters, directory.c_str(), SW_HIDE);
    }
};

IProgramLauncher& ShellProgramLauncher() {
    static ShellLauncher launcher;
    return launcher;
}

} // namespace corvane::console::config

namespace {

const char kGatewayKey[] = "GatewayIp";
const char kLastKey[] = "LastConnect";
const char kAuthKey[] = "AutoAuthen";

// Copies at most 287 bytes and the terminator. A double-byte character of the system code page
// that would not fit whole is left out rather than cut in two.
void CopyText(char (&buffer)[CFileCorvane::kTextBytes], const char* text) {
    std::size_t n = 0;
    if (text != nullptr) {
        while (text[n] != '\0') {
            const std::size_t width =
                IsDBCSLeadByte(static_cast<BYTE>(text[n])) && text[n + 1] != '\0' ? 2 : 1;
            if (n + width > CFileCorvane::kTextBytes - 1) {
                break;
            }
            n += width;
        }
        std::memcpy(buffer, text, n);
    }
    std::memset(buffer + n, 0, CFileCorvane::kTextBytes - n);
}

} // namespace

CFileCorvane::CFileCorvane(std::string programDirectory, config::IProgramLauncher* launcher)
    : m_programDirectory(std::move(programDirectory)),
      m_launcher(launcher != nullptr ? launcher : &config::ShellProgramLauncher()) {}

CFileCorvane::~CFileCorvane() = default;

bool CFileCorvane::TakePath(const char* path) {
    if (path != nullptr) {
        m_path = path;
    }
    return !m_path.empty();
}

std::string CFileCorvane::FormatAddress(std::uint32_t address) {
    unsigned char b[4];
    std::memcpy(b, &address, sizeof b);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

std::uint32_t CFileCorvane::ParseAddress(const std::string& text) {
    unsigned char b[4];
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return 0;
            }
            ++pos;
        }
        const std::size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        // Leading zeros are refused: other readers take them as octal.
        if (pos == start || value > 255 || (text[start] == '0' && pos - start > 1)) {
            return 0;
        }
        b[part] = static_cast<unsigned char>(value);
    }
    if (pos != text.size()) {
        return 0;
    }
    std::uint32_t address;
    std::memcpy(&address, b, sizeof address);
    return address == 0xFFFFFFFFu ? 0 : address;
}

void CFileCorvane::SetUserName(const char* text) {
    CopyText(m_userName, text);
}

void CFileCorvane::SetPassword(const char* text) {
    CopyText(m_password, text);
}

int CFileCorvane::LoadUserConfig(const char* path) {
    if (!TakePath(path)) {
        return -1;
    }
    CIniFile ini;
    ini.SetPath(m_path.c_str());
    if (!ini.ReadFile()) {
        return -1;
    }
    m_fixedGateway = ParseAddress(ini.GetValue(kGatewayKey, "ipaddr"));
    m_lastGateway = ParseAddress(ini.GetValue(kLastKey, "gateway"));
    m_autoAuthen = ini.GetValueI(kAuthKey, "enable");
    SetUserName(ini.GetValue(kAuthKey, "username").c_str());
    SetPassword(ini.GetValue(kAuthKey, "password").c_str());
    return 0;
}

int CFileCorvane::SaveUserConfig(const char* path, LastGateway last) {
    if (!TakePath(path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    CIniFile ini;
    ini.SetPath(m_path.c_str());
    // A missing file is created from scratch; an existing one keeps every key not set here,
    // and one that cannot be read is left as it is rather than replaced without its keys.
    if (!ini.ReadFile() && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return -1;
    }

    bool set = true;
    if (m_fixedGateway != 0) {
        set &= ini.SetValueI(kGatewayKey, "specify", 1);
        set &= ini.SetValue(kGatewayKey, "ipaddr", FormatAddress(m_fixedGateway).c_str(), true);
    } else {
        set &= ini.SetValueI(kGatewayKey, "specify", 0);
        set &= ini.SetValue(kGatewayKey, "ipaddr", "", true);
    }
    if (last == LastGateway::AsInFile) {
        m_lastGateway = ParseAddress(ini.GetValue(kLastKey, "gateway"));
    }
    set &= ini.SetValue(kLastKey, "gateway", FormatAddress(m_lastGateway).c_str(), true);
    set &= ini.SetValueI(kAuthKey, "enable", m_autoAuthen);
    // A text holding a line break is refused by the engine (it would add lines to the file);
    // the file is then left as it was rather than saved with the old text in its place.
    set &= ini.SetValue(kAuthKey, "username", m_userName, true);
    set &= ini.SetValue(kAuthKey, "password", m_password, true);

    if (!set) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (!config::WriteProtectedFile(ini)) {
        return -1;
    }
    m_launcher->Launch(m_programDirectory + kHelperProgram, kHelperParameters, m_programDirectory);
    return 0;
}
