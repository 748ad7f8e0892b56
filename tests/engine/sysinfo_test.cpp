#include "engine/sysinfo.h"
#include "platform/fs.h"
#include "platform/program.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#ifndef _WIN32
#include <cerrno>
#include <sys/wait.h>
#endif
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tavrin;
using platform::hkeyLocalMachine;

namespace {

const std::string msinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string locationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

struct Value {
    std::uint32_t type;
    std::string bytes;
};

// A registry of keys below HKEY_LOCAL_MACHINE that answers as the system does:
// data larger than the announced buffer is refused with ERROR_MORE_DATA.
class FakeRegistry : public platform::Registry {
public:
    std::map<std::string, std::map<std::string, Value>> keys;
    std::vector<std::uint32_t> accessAsked;
    std::vector<std::uint32_t> sizeAnnounced;
    int open = 0;
    bool refuseAccess = false;

    long openKey(platform::RegKey root, const char* subKey, std::uint32_t access,
                 platform::RegKey* result) override {
        accessAsked.push_back(access);
        auto it = keys.find(subKey);
        if (root != hkeyLocalMachine || it == keys.end())
            return platform::errorFileNotFound;
        if (refuseAccess)
            return 5; // ERROR_ACCESS_DENIED
        ++open;
        *result = reinterpret_cast<platform::RegKey>(&it->second);
        return platform::errorSuccess;
    }
    long queryValue(platform::RegKey key, const char* name, std::uint32_t* type,
                    unsigned char* data, std::uint32_t* size) override {
        sizeAnnounced.push_back(*size);
        auto& values = *reinterpret_cast<std::map<std::string, Value>*>(key);
        auto it = values.find(name);
        if (it == values.end())
            return platform::errorFileNotFound;
        *type = it->second.type;
        if (it->second.bytes.size() > *size) {
            *size = static_cast<std::uint32_t>(it->second.bytes.size());
            return platform::errorMoreData;
        }
        std::memcpy(data, it->second.bytes.data(), it->second.bytes.size());
        *size = static_cast<std::uint32_t>(it->second.bytes.size());
        return platform::errorSuccess;
    }
    long closeKey(platform::RegKey) override {
        --open;
        return platform::errorSuccess;
    }
};

class FakeStarter : public platform::ProgramStarter {
public:
    std::vector<std::pair<std::string, int>> started;
    bool succeed = true;
    bool startProgram(const std::string& line, int style) override {
        started.emplace_back(line, style);
        return succeed;
    }
    bool startFile(const std::string& path, int style) override {
        started.emplace_back(path, style);
        return succeed;
    }
};

std::string sz(const std::string& text) {
    return text + '\0';
}
std::string dword(std::uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF),
            static_cast<char>(v >> 16 & 0xFF), static_cast<char>(v >> 24 & 0xFF)};
}

class SysInfoTest : public ::testing::Test {
protected:
    FakeRegistry reg;
    FakeStarter starter;
    void SetUp() override {
        platform::setRegistryForTesting(&reg);
        platform::setProgramStarterForTesting(&starter);
    }
    void TearDown() override {
        platform::setRegistryForTesting(nullptr);
        platform::setProgramStarterForTesting(nullptr);
        EXPECT_EQ(reg.open, 0) << "a key was left open";
    }
    bool read(const std::string& value, std::string& text) {
        return GetKeyValue(hkeyLocalMachine, "K", value, text);
    }
};

// --- GetKeyValue ---------------------------------------------------------

TEST_F(SysInfoTest, OpensWithAllAccessAndAnnounces1024Bytes) {
    reg.keys["K"]["v"] = {platform::regSz, sz("x")};
    std::string text;
    EXPECT_TRUE(read("v", text));
    EXPECT_EQ(reg.accessAsked, std::vector<std::uint32_t>{0x2003F});
    EXPECT_EQ(reg.sizeAnnounced, std::vector<std::uint32_t>{1024});
}

TEST_F(SysInfoTest, StringStopsAtFirstZeroByte) {
    reg.keys["K"]["v"] = {platform::regSz, std::string("C:\\a b\\m.exe\0junk", 17)};
    std::string text = "old";
    EXPECT_TRUE(read("v", text));
    EXPECT_EQ(text, "C:\\a b\\m.exe");
}

TEST_F(SysInfoTest, StringWithoutZeroFillingTheBufferIsTakenWhole) {
    reg.keys["K"]["v"] = {platform::regSz, std::string(1024, 'a')};
    std::string text;
    EXPECT_TRUE(read("v", text));
    EXPECT_EQ(text, std::string(1024, 'a'));
}

TEST_F(SysInfoTest, DataLongerThan1024BytesCountsAsNotRead) {
    reg.keys["K"]["v"] = {platform::regSz, std::string(1025, 'a')};
    std::string text = "old";
    EXPECT_FALSE(read("v", text));
    EXPECT_EQ(text, "");
}

TEST_F(SysInfoTest, DwordIsSignedDecimal) {
    reg.keys["K"]["d"] = {platform::regDword, dword(256)};
    reg.keys["K"]["n"] = {platform::regDword, dword(0xFFFFFFFFu)};
    reg.keys["K"]["m"] = {platform::regDword, dword(0x80000000u)};
    std::string text;
    EXPECT_TRUE(read("d", text));
    EXPECT_EQ(text, "256");
    EXPECT_TRUE(read("n", text));
    EXPECT_EQ(text, "-1");
    EXPECT_TRUE(read("m", text));
    EXPECT_EQ(text, "-2147483648");
}

TEST_F(SysInfoTest, OtherTypeIsReadButLeavesTextUnchanged) {
    reg.keys["K"]["e"] = {platform::regExpandSz, sz("%WINDIR%\\x.exe")};
    std::string text = "kept";
    EXPECT_TRUE(read("e", text));
    EXPECT_EQ(text, "kept");
}

TEST_F(SysInfoTest, MissingKeyMissingValueAndRefusedAccessGiveFalseAndEmpty) {
    std::string text = "old";
    EXPECT_FALSE(GetKeyValue(hkeyLocalMachine, "nope", "v", text));
    EXPECT_EQ(text, "");
    reg.keys["K"]["v"] = {platform::regSz, sz("x")};
    text = "old";
    EXPECT_FALSE(read("other", text));
    EXPECT_EQ(text, "");
    reg.refuseAccess = true;
    text = "old";
    EXPECT_FALSE(read("v", text));
    EXPECT_EQ(text, "");
}

// --- the system-information steps ------------------------------------------

TEST_F(SysInfoTest, RegisteredPathIsStartedUncheckedInNormalWindow) {
    reg.keys[msinfoKey]["PATH"] = {platform::regSz, sz("C:\\no such\\msinfo32.exe")};
    reg.keys[locationKey]["MSINFO"] = {platform::regSz, sz("C:\\elsewhere")};
    EXPECT_FALSE(startSysInfoFailed());
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first, "C:\\no such\\msinfo32.exe");
    EXPECT_EQ(starter.started[0].second, 1);
}

TEST_F(SysInfoTest, FailedStartOfRegisteredPathShowsTheMessageWithoutTryingTheFolder) {
    reg.keys[msinfoKey]["PATH"] = {platform::regSz, sz("C:\\gone.exe")};
    reg.keys[locationKey]["MSINFO"] = {platform::regSz, sz("C:\\elsewhere")};
    starter.succeed = false;
    EXPECT_TRUE(startSysInfoFailed());
    EXPECT_EQ(starter.started.size(), 1u);
}

TEST_F(SysInfoTest, FolderKeyIsSearchedForTheProgram) {
    const fs::path dir = fs::temp_directory_path() / "tavrin sysinfo test";
    fs::create_directories(dir);
    const std::string folder = dir.string();
    reg.keys[locationKey]["MSINFO"] = {platform::regSz, sz(folder)};

    EXPECT_TRUE(startSysInfoFailed()) << "no program in the folder yet";
    EXPECT_TRUE(starter.started.empty());

    const std::string program = folder + platform::separator() + "MSINFO32.EXE";
    std::ofstream(program) << "x";
    EXPECT_FALSE(startSysInfoFailed());
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first, program);
    EXPECT_EQ(starter.started[0].second, 1);
    fs::remove_all(dir);
}

TEST_F(SysInfoTest, PathRegisteredAsExpandableStringIsNotStarted) {
    reg.keys[msinfoKey]["PATH"] = {platform::regExpandSz, sz("%ProgramFiles%\\m.exe")};
    EXPECT_TRUE(startSysInfoFailed());
    EXPECT_TRUE(starter.started.empty());
}

TEST_F(SysInfoTest, NothingRegisteredShowsTheMessage) {
    EXPECT_TRUE(startSysInfoFailed());
    EXPECT_TRUE(starter.started.empty());
}

// --- the read-me command line ----------------------------------------------

TEST(ReadmeCommandLine, FolderWithSpacesStaysUnquoted) {
    const std::string sep(1, platform::separator());
    EXPECT_EQ(readmeCommandLine("/home/a user/My Tools"),
              "NOTEPAD /home/a user/My Tools" + sep + "readme.txt");
}

TEST(ReadmeCommandLine, SeparatorIsAddedEvenAtADriveRoot) {
    const std::string sep(1, platform::separator());
    EXPECT_EQ(readmeCommandLine("C:" + sep), "NOTEPAD C:" + sep + sep + "readme.txt");
}

#ifndef _WIN32
// The real program start. The script's path holds a space: it only runs if the
// rest of the line reaches sh as one argument. The intermediate child is reaped
// at once, so no zombie is left behind.
TEST(StartProgram, RunsDetachedWithTheRestAsOneArgumentAndLeavesNoZombie) {
    const fs::path dir = fs::temp_directory_path() / "tavrin start test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path script = dir / "write mark.sh";
    const fs::path mark = dir / "mark";
    std::ofstream(script) << "echo ok > '" << mark.string() << ".tmp' && mv '" << mark.string()
                          << ".tmp' '" << mark.string() << "'\n";
    ASSERT_TRUE(platform::startProgram("sh " + script.string(), platform::showNormal));
    for (int i = 0; i < 500 && !fs::exists(mark); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(mark);
    std::string got;
    std::getline(in, got);
    EXPECT_EQ(got, "ok");
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child is left to reap";
    EXPECT_EQ(errno, ECHILD);
    fs::remove_all(dir);
}

// "NOTEPAD file" opens the file with the desktop's default text editor, here a
// desktop file in a subfolder ahead of another editor; with none, nothing starts.
// Each case runs in a forked child: GIO reads the desktop's folders once per process.
TEST(StartProgram, NotepadOpensTheDesktopsDefaultTextEditor) {
    const fs::path root = fs::temp_directory_path() / "tavrin editor test";
    fs::remove_all(root);
    fs::create_directories(root / "data/applications/vendor");
    fs::create_directories(root / "config");
    const fs::path editor = root / "editor";
    std::ofstream(editor)
        << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && /bin/mv \"$0.tmp\" \"$0.args\"\n";
    fs::permissions(editor, fs::perms::owner_all);
    // An editor that is there but cannot run: its interpreter is missing.
    const fs::path broken = root / "broken";
    std::ofstream(broken) << "#!/nonexistent/tavrin/interpreter\n";
    fs::permissions(broken, fs::perms::owner_all);
    for (const auto& [id, program] :
         {std::pair{"vendor/good", editor}, {"other", editor}, {"broken", broken}})
        std::ofstream(root / "data/applications" / (std::string(id) + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=" << id << "\nExec=\"" << program.string()
            << "\" " << id << " %f\nMimeType=text/plain;\n";
    const auto open = [&](const char* defaults) {
        std::ofstream(root / "config/mimeapps.list") << defaults;
        for (const char* dirs : {"XDG_DATA_DIRS", "XDG_CONFIG_DIRS", "PATH"})
            setenv(dirs, (root / "none").c_str(), 1);
        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        std::exit(platform::startProgram("NOTEPAD /opt/my tools/readme.txt", 2) ? 0 : 1);
    };
    EXPECT_EXIT(open("[Default Applications]\ntext/plain=vendor-good.desktop;\n"),
                ::testing::ExitedWithCode(0), "");
    const fs::path args = root / "editor.args";
    for (int i = 0; i < 500 && !fs::exists(args); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(args);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "vendor/good\n/opt/my tools/readme.txt\n");
    EXPECT_EXIT(open("[Default Applications]\ntext/plain=broken.desktop;\n"),
                ::testing::ExitedWithCode(1), "")
        << "an editor that could not be started is reported";
    fs::remove_all(root / "data/applications");
    EXPECT_EXIT(open(""), ::testing::ExitedWithCode(1), "");
    fs::remove_all(root);
}

#endif

TEST(StartProgram, MissingProgramIsReportedAsNotStarted) {
    EXPECT_FALSE(platform::startProgram("tavrin-no-such-program x", platform::showNormal));
    EXPECT_FALSE(platform::startFile("/nonexistent/tavrin/msinfo32.exe", platform::showNormal));
#ifndef _WIN32
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
#endif
}

} // namespace
