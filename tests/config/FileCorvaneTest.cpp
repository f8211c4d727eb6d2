// The user configuration record on top of the INI engine, under Wine.
#include "FileCorvane.h"

#include "TempDir.h"
#include "WaitFor.h"

#include <cstring>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Keeps each start as "program parameters @directory".
class RecordingLauncher : public IProgramLauncher {
public:
    void Launch(const std::string& program, const char* parameters,
                const std::string& directory) override {
        launches.push_back(program + " " + parameters + " @" + directory);
    }
    std::vector<std::string> launches;
};

const char kProgramDir[] = "C:\\Program Files\\Corvane\\";

std::uint32_t Address(unsigned a, unsigned b, unsigned c, unsigned d) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                    static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    std::uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

class FileCorvaneTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        path_ = PathOf("userconfig.ini");
    }
    // The file without its first line (the stamp, dated today).
    std::string Body() const {
        const std::string all = Get(path_);
        EXPECT_EQ(all.rfind("// write by ", 0), 0u) << all;
        return all.substr(all.find("\r\n") + 2);
    }

    std::string path_;
    RecordingLauncher launcher_;
};

TEST_F(FileCorvaneTest, SavesTheLayoutFromScratchAndLoadsItBack) {
    CFileCorvane record(kProgramDir, &launcher_);
    record.m_fixedGateway = Address(192, 168, 1, 10);
    record.m_lastGateway = Address(10, 0, 0, 254);
    record.m_autoAuthen = 1;
    record.SetUserName("alice");
    record.SetPassword("s3cret pass");
    ASSERT_EQ(record.SaveUserConfig(path_.c_str()), 0);
    EXPECT_EQ(Body(), "[GatewayIp]\r\nspecify = 1\r\nipaddr = 192.168.1.10\r\n\r\n"
                      "[LastConnect]\r\ngateway = 10.0.0.254\r\n\r\n"
                      "[AutoAuthen]\r\nenable = 1\r\nusername = alice\r\n"
                      "password = s3cret pass\r\n\r\n");

    // The helper is started once, from the program directory.
    EXPECT_EQ(launcher_.launches,
              std::vector<std::string>{std::string(kProgramDir) + "vedevaru.exe -pnotify @" +
                                       kProgramDir});

    CFileCorvane loaded(kProgramDir, &launcher_);
    ASSERT_EQ(loaded.LoadUserConfig(path_.c_str()), 0);
    EXPECT_EQ(loaded.Path(), path_);
    EXPECT_EQ(loaded.m_fixedGateway, Address(192, 168, 1, 10));
    EXPECT_EQ(loaded.m_lastGateway, Address(10, 0, 0, 254));
    EXPECT_EQ(loaded.m_autoAuthen, 1);
    EXPECT_STREQ(loaded.m_userName, "alice");
    EXPECT_STREQ(loaded.m_password, "s3cret pass");
}

TEST_F(FileCorvaneTest, NoGatewaysAreWrittenAndReadAsZero) {
    CFileCorvane record(kProgramDir, &launcher_);
    ASSERT_EQ(record.SaveUserConfig(path_.c_str()), 0);
    EXPECT_EQ(Body(), "[GatewayIp]\r\nspecify = 0\r\nipaddr = \r\n\r\n"
                      "[LastConnect]\r\ngateway = 0.0.0.0\r\n\r\n"
                      "[AutoAuthen]\r\nenable = 0\r\nusername = \r\npassword = \r\n\r\n");

    CFileCorvane loaded(kProgramDir, &launcher_);
    loaded.m_fixedGateway = Address(1, 2, 3, 4);
    loaded.m_lastGateway = Address(1, 2, 3, 4);
    ASSERT_EQ(loaded.LoadUserConfig(path_.c_str()), 0);
    EXPECT_EQ(loaded.m_fixedGateway, 0u);
    EXPECT_EQ(loaded.m_lastGateway, 0u);
}

TEST_F(FileCorvaneTest, KeepsWhatItDoesNotOwn) {
    Put(path_, "// write by Monday, January 05, 2026\r\n"
               "[Service]\r\nport = 4433\r\n\r\n"
               "[AutoAuthen]\r\n; set by the service\r\nretries = 3\r\nusername = old\r\n\r\n"
               "[GatewayIp]\r\nipaddr = 255.255.255.255\r\n");
    CFileCorvane record(kProgramDir, &launcher_);
    ASSERT_EQ(record.LoadUserConfig(path_.c_str()), 0);
    EXPECT_EQ(record.m_fixedGateway, 0u); // the all-ones address means none
    EXPECT_STREQ(record.m_userName, "old");

    record.SetUserName("new");
    ASSERT_EQ(record.SaveUserConfig(nullptr), 0);
    EXPECT_EQ(Get(path_),
              "// write by Monday, January 05, 2026\r\n"
              "[Service]\r\nport = 4433\r\n\r\n"
              "[AutoAuthen]\r\n; set by the service\r\nretries = 3\r\nusername = new\r\n\r\n"
              "enable = 0\r\npassword = \r\n\r\n"
              "[GatewayIp]\r\nipaddr = \r\nspecify = 0\r\n\r\n"
              "[LastConnect]\r\ngateway = 0.0.0.0\r\n\r\n");
}

TEST_F(FileCorvaneTest, AddressRules) {
    EXPECT_EQ(CFileCorvane::ParseAddress("192.168.1.10"), Address(192, 168, 1, 10));
    EXPECT_EQ(CFileCorvane::ParseAddress("0.0.0.0"), 0u);
    EXPECT_EQ(CFileCorvane::ParseAddress("255.255.255.254"), Address(255, 255, 255, 254));
    for (const char* bad : {"", "255.255.255.255", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4x",
                            "1..2.3", "01.2.3.4", "1.2.3.-4", "a.b.c.d", "1.2.3.1000"}) {
        EXPECT_EQ(CFileCorvane::ParseAddress(bad), 0u) << bad;
    }
    EXPECT_EQ(CFileCorvane::FormatAddress(Address(10, 0, 200, 255)), "10.0.200.255");
    EXPECT_EQ(CFileCorvane::FormatAddress(0), "0.0.0.0");
}

TEST_F(FileCorvaneTest, FailuresStartNothingAndKeepTheRecord) {
    CFileCorvane record(kProgramDir, &launcher_);
    EXPECT_EQ(record.LoadUserConfig(nullptr), -1); // no path yet
    EXPECT_EQ(record.SaveUserConfig(nullptr), -1);

    record.SetUserName("kept");
    EXPECT_EQ(record.LoadUserConfig(path_.c_str()), -1); // missing file
    EXPECT_STREQ(record.m_userName, "kept");

    const std::string unwritable = (dir_ / "no-such-dir" / "userconfig.ini").string();
    EXPECT_EQ(record.SaveUserConfig(unwritable.c_str()), -1);
    EXPECT_EQ(record.SaveUserConfig(nullptr), -1); // the failed path is now the record's
    EXPECT_TRUE(launcher_.launches.empty());

    // A text with a line break would add lines to the file: refused, file untouched.
    ASSERT_EQ(record.SaveUserConfig(path_.c_str()), 0);
    const std::string saved = Get(path_);
    record.SetPassword("x\r\n[GatewayIp]\r\nspecify = 1");
    EXPECT_EQ(record.SaveUserConfig(nullptr), -1);
    EXPECT_EQ(Get(path_), saved);
    EXPECT_EQ(launcher_.launches.size(), 1u);
}

TEST_F(FileCorvaneTest, LongTextsAreCutTo287Bytes) {
    const std::string longName(400, 'u');
    Put(path_, "[AutoAuthen]\r\nusername = " + longName + "\r\npassword = " + longName + "\r\n");
    CFileCorvane record(kProgramDir, &launcher_);
    ASSERT_EQ(record.LoadUserConfig(path_.c_str()), 0);
    EXPECT_EQ(std::string(record.m_userName), longName.substr(0, 287));
    EXPECT_EQ(std::string(record.m_password), longName.substr(0, 287));
}

#ifdef CORVANE_VEDEVARU_STUB
// Under Wine a Linux path names drive Z:.
std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

// The real start, through the shell, of the stub that records how it was started.
TEST_F(FileCorvaneTest, StartsTheHelperHiddenFromTheProgramDirectory) {
    const fs::path programDir = dir_ / "program";
    fs::create_directories(programDir);
    fs::copy_file(WindowsPath(CORVANE_VEDEVARU_STUB), programDir / "vedevaru.exe");
    const std::string programText = programDir.string() + "\\";
    const fs::path calls = programDir / "vedevaru-calls.txt";
    auto lines = [&] {
        std::ifstream in(calls, std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> result;
        for (std::size_t pos = 0, end; (end = all.find("\r\n", pos)) != std::string::npos;
             pos = end + 2) {
            result.push_back(all.substr(pos, end - pos));
        }
        return result;
    };

    CFileCorvane record(programText); // the shell launcher
    const std::string unwritable = (dir_ / "no-such-dir" / "userconfig.ini").string();
    ASSERT_EQ(record.SaveUserConfig(unwritable.c_str()), -1);
    ASSERT_EQ(record.SaveUserConfig(path_.c_str()), 0);
    ASSERT_TRUE(corvane_test::WaitFor([&] { return !lines().empty(); }));
    const std::vector<std::string> got = lines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "cwd=" + programDir.string() + "\tshow=0\targ=-pnotify");
}
#endif

} // namespace
