// The user configuration record on top of the INI engine, under Wine.
#include "FileCorvane.h"

#include "TempDir.h"
#include "WaitFor.h"

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

// An address as it lies in memory: network byte order, read on a little-endian machine.
constexpr std::uint32_t Address(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                std::uint32_t d) {
    return a | b << 8 | c << 16 | d << 24;
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
    // Nothing set: no gateways are written, and read back, as zero.
    CFileCorvane record(kProgramDir, &launcher_);
    ASSERT_EQ(record.SaveUserConfig(path_.c_str()), 0);
    EXPECT_EQ(Body(), "[GatewayIp]\r\nspecify = 0\r\nipaddr = \r\n\r\n"
                      "[LastConnect]\r\ngateway = 0.0.0.0\r\n\r\n"
                      "[AutoAuthen]\r\nenable = 0\r\nusername = \r\npassword = \r\n\r\n");
    CFileCorvane loaded(kProgramDir, &launcher_);
    loaded.m_fixedGateway = loaded.m_lastGateway = Address(1, 2, 3, 4);
    ASSERT_EQ(loaded.LoadUserConfig(path_.c_str()), 0);
    EXPECT_EQ(loaded.m_fixedGateway, 0u);
    EXPECT_EQ(loaded.m_lastGateway, 0u);

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
    // The helper is started once per save, from the program directory.
    const std::string start = std::string(kProgramDir) + "vedevaru.exe -pnotify @" + kProgramDir;
    EXPECT_EQ(launcher_.launches, (std::vector<std::string>{start, start}));

    ASSERT_EQ(loaded.LoadUserConfig(path_.c_str()), 0);
    EXPECT_EQ(loaded.Path(), path_);
    EXPECT_EQ(loaded.m_fixedGateway, Address(192, 168, 1, 10));
    EXPECT_EQ(loaded.m_lastGateway, Address(10, 0, 0, 254));
    EXPECT_EQ(loaded.m_autoAuthen, 1);
    EXPECT_STREQ(loaded.m_userName, "alice");
    EXPECT_STREQ(loaded.m_password, "s3cret pass");
}

TEST_F(FileCorvaneTest, KeepsWhatItDoesNotOwnAndCutsLongTexts) {
    const std::string longText(400, 'u');
    Put(path_, "// write by Monday, January 05, 2026\r\n"
               "[Service]\r\nport = 4433\r\n\r\n"
               "[AutoAuthen]\r\n; set by the service\r\nretries = 3\r\nusername = " +
                   longText + "\r\npassword = " + longText + "\r\n\r\n" +
                   "[GatewayIp]\r\nipaddr = 255.255.255.255\r\n");
    CFileCorvane record(kProgramDir, &launcher_);
    ASSERT_EQ(record.LoadUserConfig(path_.c_str()), 0);
    EXPECT_EQ(record.m_fixedGateway, 0u); // the all-ones address means none
    EXPECT_EQ(std::string(record.m_userName), longText.substr(0, 287));
    EXPECT_EQ(std::string(record.m_password), longText.substr(0, 287));

    record.SetUserName("new");
    record.SetPassword("");
    ASSERT_EQ(record.SaveUserConfig(nullptr), 0);
    EXPECT_EQ(Get(path_),
              "// write by Monday, January 05, 2026\r\n"
              "[Service]\r\nport = 4433\r\n\r\n"
              "[AutoAuthen]\r\n; set by the service\r\nretries = 3\r\nusername = new\r\n"
              "password = \r\n\r\nenable = 0\r\n\r\n"
              "[GatewayIp]\r\nipaddr = \r\nspecify = 0\r\n\r\n"
              "[LastConnect]\r\ngateway = 0.0.0.0\r\n\r\n");
}

TEST(FileCorvane, AddressRules) {
    EXPECT_EQ(CFileCorvane::ParseAddress("192.168.1.10"), Address(192, 168, 1, 10));
    EXPECT_EQ(CFileCorvane::ParseAddress("255.255.255.254"), Address(255, 255, 255, 254));
    for (const char* zero :
         {"", "0.0.0.0", "255.255.255.255", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4x", "1..2.3",
          "01.2.3.4", "1.2.3.-4", "a.b.c.d", "1.2.3.1000"}) {
        EXPECT_EQ(CFileCorvane::ParseAddress(zero), 0u) << zero;
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

#ifdef CORVANE_VEDEVARU_STUB
// The real start, through the shell, of the stub that records how it was started.
TEST_F(FileCorvaneTest, StartsTheHelperHiddenFromTheProgramDirectory) {
    const fs::path programDir = dir_ / "program";
    fs::create_directories(programDir);
    std::string stub = CORVANE_VEDEVARU_STUB; // a Linux path names drive Z: under Wine
    for (char& c : stub) {
        c = c == '/' ? '\\' : c;
    }
    fs::copy_file(stub[0] == '\\' ? "Z:" + stub : stub, programDir / "vedevaru.exe");
    const std::string calls = (programDir / "vedevaru-calls.txt").string();

    CFileCorvane record(programDir.string() + "\\"); // the shell launcher
    ASSERT_EQ(record.SaveUserConfig((dir_ / "no-such-dir" / "u.ini").string().c_str()), -1);
    ASSERT_EQ(record.SaveUserConfig(path_.c_str()), 0);
    ASSERT_TRUE(
        corvane_test::WaitFor([&] { return Get(calls).find("\r\n") != std::string::npos; }));
    EXPECT_EQ(Get(calls), "cwd=" + programDir.string() + "\tshow=0\targ=-pnotify\r\n");
}
#endif

} // namespace
