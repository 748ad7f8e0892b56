#include "platform/fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;
using namespace tavrin::platform;

namespace {

class PlatformFs : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tavrin-fs-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(dir / name, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    fs::path dir;
};

TEST(Platform, BuildRunsOnThePlatformItWasMadeFor) {
    EXPECT_EQ(separator(), static_cast<char>(fs::path::preferred_separator));
#ifdef _WIN32
    EXPECT_EQ(separator(), '\\');
#else
    EXPECT_EQ(separator(), '/');
    EXPECT_TRUE(fs::exists("/proc/self/exe") || fs::exists("/"));
#endif
}

TEST_F(PlatformFs, RenameMovesTheFileAndKeepsItsContent) {
    write("a.txt", "alpha");
    ASSERT_TRUE(renameNoReplace(path("a.txt"), path("b.txt")).ok());
    EXPECT_FALSE(fs::exists(dir / "a.txt"));
    EXPECT_EQ(read("b.txt"), "alpha");
}

TEST_F(PlatformFs, RenameOntoAnExistingNameChangesNeitherFile) {
    write("a.txt", "alpha");
    write("b.txt", "beta");
    const Status s = renameNoReplace(path("a.txt"), path("b.txt"));
    EXPECT_TRUE(s.targetExists());
    EXPECT_FALSE(s.reason.empty());
    EXPECT_EQ(read("a.txt"), "alpha");
    EXPECT_EQ(read("b.txt"), "beta");
    // A folder of that name blocks the rename too.
    fs::create_directory(dir / "sub");
    EXPECT_TRUE(renameNoReplace(path("a.txt"), path("sub")).targetExists());
}

TEST_F(PlatformFs, OtherRenameFailuresAreNotClashes) {
    const Status missing = renameNoReplace(path("nope.txt"), path("b.txt"));
    EXPECT_EQ(missing.kind, Status::Kind::Failed);
#ifndef _WIN32
    EXPECT_EQ(missing.reason, "No such file or directory");
#endif
    EXPECT_FALSE(missing.reason.empty());
    write("a.txt", "alpha");
    EXPECT_EQ(renameNoReplace(path("a.txt"), path("gone/b.txt")).kind, Status::Kind::Failed);
    EXPECT_EQ(read("a.txt"), "alpha");
}

TEST_F(PlatformFs, RemoveSkipsMissingFiles) {
    write("a.txt", "x");
    EXPECT_TRUE(removeFile(path("a.txt")).ok());
    EXPECT_FALSE(fs::exists(dir / "a.txt"));
    EXPECT_TRUE(removeFile(path("a.txt")).ok());
}

TEST_F(PlatformFs, ReplaceFileMovesOverTheTarget) {
    write("a.tmp", "new");
    write("a.ini", "old");
    ASSERT_TRUE(replaceFile(path("a.tmp"), path("a.ini")).ok());
    EXPECT_EQ(read("a.ini"), "new");
    EXPECT_FALSE(fs::exists(dir / "a.tmp"));
}

TEST_F(PlatformFs, OrdinaryFileTest) {
    write("a.txt", "x");
    if (separator() != '/') {
        GTEST_SKIP()
            << "links and dot names are the POSIX rule; the Windows suite tests attributes";
    }
    write(".hidden", "x");
    fs::create_directory(dir / "sub");
    fs::create_symlink(dir / "a.txt", dir / "link.txt");
    EXPECT_TRUE(isOrdinaryFile(path("a.txt")));
    EXPECT_TRUE(isOrdinaryFile(path("link.txt")));
    EXPECT_FALSE(isOrdinaryFile(path(".hidden")));
    EXPECT_FALSE(isOrdinaryFile(path("sub")));
    Status error;
    EXPECT_FALSE(isOrdinaryFile(path("missing"), &error));
    EXPECT_TRUE(error.ok()); // not being there is an answer, not a failure
}

TEST(PlatformFolders, AbsoluteFolderRule) {
    if (separator() != '/') {
        GTEST_SKIP() << "the Windows rule is tested in the Windows suite";
    }
    EXPECT_TRUE(isAbsoluteFolder("/"));
    EXPECT_TRUE(isAbsoluteFolder("/home/u/"));
    EXPECT_FALSE(isAbsoluteFolder("/home/u"));
    EXPECT_FALSE(isAbsoluteFolder("home/u/"));
    EXPECT_FALSE(isAbsoluteFolder(""));
}

TEST(PlatformFolders, ProgramFolderHoldsTheTestExecutable) {
    const std::string folder = programFolder();
    EXPECT_TRUE(fs::is_directory(folder));
#ifdef _WIN32
    EXPECT_TRUE(fs::exists(fs::path(folder) / "platform_tests.exe"));
#else
    EXPECT_TRUE(fs::exists(fs::path(folder) / "platform_tests"));
#endif
    setProgramFolderForTesting("/elsewhere");
    EXPECT_EQ(programFolder(), "/elsewhere");
    setProgramFolderForTesting({});
    EXPECT_EQ(programFolder(), folder);
}

} // namespace
