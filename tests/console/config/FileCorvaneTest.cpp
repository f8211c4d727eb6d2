// The user configuration record on top of the INI engine, under Wine.
#include "console/config/FileCorvane.h"
#include "console/config/ProtectedFile.h"

#include "corvanelib/Win32/UniqueHandle.h"
#include "tests/support/TempDir.h"

#include <iterator>
#include <tuple>
#include <vector>

#include <windows.h>
#include <aclapi.h>

using namespace corvane::tests::support;
namespace config = corvane::console::config;

namespace {

// Keeps each start as "program parameters @directory".
class RecordingLauncher : public config::IProgramLauncher {
public:
    void Launch(const std::string& program, const char* parameters,
                const std::string& directory) override {
        launches.push_back(program + " " + parameters + " @" + directory);
    }
    std::vector<std::string> launches;
};

const char kProgramDir[] = "C:\\Program Files\\Corvane\\";

class FileCorvaneTest : public TempDirTest {
protected:
    std::string path_ = PathOf("userconfig.ini");
    RecordingLauncher launcher_;
    CFileCorvane record_{kProgramDir, &launcher_};
};

TEST_F(FileCorvaneTest, LoadsAndSavesTheLayoutKeepingOtherKeys) {
    // The service's keys and lines survive; texts are cut to 287 bytes; all-ones means none.
    const std::string longText(400, 'u');
    Put(path_, "// write by Monday, January 05, 2026\r\n[Service]\r\nport = 4433\r\n\r\n"
               "[AutoAuthen]\r\n; set by the service\r\nretries = 3\r\nusername = " +
                   longText + "\r\npassword = " + longText +
                   "\r\n\r\n[GatewayIp]\r\nipaddr = 255.255.255.255\r\n"
                   "[LastConnect]\r\ngateway = 10.0.0.254\r\n");
    ASSERT_EQ(record_.LoadUserConfig(path_.c_str()), 0);
    // Addresses lie in memory in network byte order: 10.0.0.254 read on a little-endian machine.
    EXPECT_EQ(record_.m_fixedGateway + 0ull + record_.m_lastGateway, 0xFE00000Au);
    EXPECT_EQ(std::string(record_.m_userName) + std::string(record_.m_password),
              longText.substr(0, 287) + longText.substr(0, 287));
    record_.m_fixedGateway = 0x0A01A8C0; // 192.168.1.10
    record_.m_autoAuthen = 1;
    record_.SetUserName("alice");
    record_.SetPassword("s3cret pass");
    ASSERT_EQ(record_.SaveUserConfig(path_.c_str()), 0);
    EXPECT_EQ(Get(path_), "// write by Monday, January 05, 2026\r\n[Service]\r\nport = 4433\r\n\r\n"
                          "[AutoAuthen]\r\n; set by the service\r\nretries = 3\r\n"
                          "username = alice\r\npassword = s3cret pass\r\n\r\nenable = 1\r\n\r\n"
                          "[GatewayIp]\r\nipaddr = 192.168.1.10\r\nspecify = 1\r\n\r\n"
                          "[LastConnect]\r\ngateway = 10.0.0.254\r\n\r\n");
    // The helper is started once per save (not per load), from the program directory.
    const std::string start = std::string(kProgramDir) + "vedevaru.exe -pnotify @" + kProgramDir;
    EXPECT_EQ(launcher_.launches, std::vector<std::string>{start});
    // Other refused addresses read as none too (the byte order and the formatting are the
    // save's check above).
    for (const char* zero : {"", "0.0.0.0", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4x", "1..2.3",
                             "01.2.3.4", "1.2.3.-4", "a.b.c.d", "1.2.3.1000"}) {
        EXPECT_EQ(CFileCorvane::ParseAddress(zero), 0u) << zero;
    }
}

TEST_F(FileCorvaneTest, FailuresStartNothingAndKeepTheFile) {
    record_.SetUserName("kept");
    EXPECT_EQ(record_.LoadUserConfig(path_.c_str()), -1); // missing file
    EXPECT_STREQ(record_.m_userName, "kept");
    ASSERT_EQ(record_.SaveUserConfig(path_.c_str()), 0);
    const std::string saved = Get(path_);

    // Each failed save leaves the system's code for it as the last error. A file that another
    // program holds so that it cannot be read is not replaced by one without its other keys.
    corvanelib::UniqueFileHandle holder(CreateFileA(path_.c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::tuple<std::string, const char*, DWORD> failures[] = {
        {(dir_ / "no-such-dir" / "u.ini").string(), "", ERROR_PATH_NOT_FOUND},
        {dir_.string(), "", ERROR_ACCESS_DENIED}, // a directory in the way
        {path_, "", ERROR_SHARING_VIOLATION},
        // A text with a line break would add lines to the file: refused.
        {PathOf("new.ini"), "x\r\n[GatewayIp]\r\nspecify = 1", ERROR_INVALID_PARAMETER}};
    for (const auto& [path, password, error] : failures) {
        CFileCorvane fresh(kProgramDir, &launcher_);
        fresh.SetPassword(password);
        SetLastError(0);
        EXPECT_EQ(fresh.SaveUserConfig(path.c_str()), -1);
        EXPECT_EQ(GetLastError(), error) << path;
    }
    holder.reset();
    EXPECT_TRUE(Get(path_) == saved && !std::filesystem::exists(PathOf("new.ini")) &&
                launcher_.launches.size() == 1);
}

// Whether the DACL of `path` has an entry for Everyone, Users or Authenticated Users. (Wine
// reports the DACL a file was created with through the unix rights it gave the file: an open
// file shows an entry for Everyone.)
bool OpenToOrdinaryUsers(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(0u, GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, &dacl, nullptr, &descriptor));
    bool open = dacl == nullptr; // no DACL: everyone has every right
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        GetAce(dacl, i, reinterpret_cast<void**>(&ace));
        for (const WELL_KNOWN_SID_TYPE ordinary :
             {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid}) {
            open |= IsWellKnownSid(&ace->SidStart, ordinary) != FALSE;
        }
    }
    LocalFree(descriptor);
    return open;
}

// The password is the administrators' alone from the moment the folder and the file exist: a
// save replaces an open file by a closed one, and removes the copies an interrupted save left.
TEST_F(FileCorvaneTest, SavesAClosedFileInAClosedFolderAndLeavesNoCopyBehind) {
    const std::string folder = PathOf("Corvane");
    const std::wstring wideFolder(folder.begin(), folder.end());
    ASSERT_EQ(0u, config::CreateProtectedFolder(wideFolder));
    ASSERT_EQ(0u, config::CreateProtectedFolder(wideFolder)); // it exists: fine
    const std::string file = folder + "\\userconfig.ini";
    Put(file, "[AutoAuthen]\r\nretries = 3\r\n");
    ASSERT_TRUE(OpenToOrdinaryUsers(file));
    // Only our pattern goes: "~" and 16 lower-case hex digits in a folder of this length.
    const char* const planted[] = {"~0123456789abcdef", "~0123456789abcde", "~0123456789abcdefa",
                                   "~0123456789abcdeg", "x0123456789abcdef"};
    for (const char* name : planted) {
        Put(folder + "\\" + name, "password = s3cret\r\n");
    }
    ASSERT_EQ(0, record_.SaveUserConfig(file.c_str()));
    for (std::size_t i = 0; i < std::size(planted); ++i) {
        EXPECT_EQ(i != 0, std::filesystem::exists(folder + "\\" + planted[i])) << planted[i];
    }
    EXPECT_FALSE(OpenToOrdinaryUsers(folder) || OpenToOrdinaryUsers(file));
    EXPECT_NE(Get(file).find("retries = 3"), std::string::npos);
}

// The account the service is configured to run as, which gets its own entry.
TEST(ProtectedFile, ServiceAccountSid) {
    std::wstring sids;
    for (const wchar_t* name : {L"", L"no such account", L"NT AUTHORITY\\LocalService",
                                L"NT AUTHORITY\\NetworkService"}) {
        sids += config::ServiceAccountSid(*name != 0 ? name : nullptr) + L"|";
    }
    EXPECT_EQ(sids, L"||S-1-5-19|S-1-5-20|");
}

} // namespace
