// FolderEntries on Linux: what the watch of a folder must never miss.
#include "platform/fs.h"
#include "platform/fs_internal.h"
#include "tests/engine/traced_child.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/magic.h>
#include <random>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tavrin::platform;
using namespace tavrin::testing;

namespace {

// A base folder on a file system whose folders are watched, or none; tmpfs
// first, where the 16,385 entries of the overflow test cost least.
fs::path watchedBase() {
    for (const fs::path& base : {fs::path("/dev/shm"), fs::temp_directory_path()}) {
        std::error_code ec;
        if (fs::is_directory(base, ec) && ::access(base.c_str(), W_OK) == 0 &&
            FolderEntries(base.string()).watching()) {
            return base;
        }
    }
    return {};
}

// Folders on tmpfs and ext4, where runs are timed, are watched.
TEST(FolderWatch, TmpfsAndExt4FoldersAreWatched) {
    for (const char* base : {"/dev/shm", "/tmp"}) {
        struct statfs info;
        if (::statfs(base, &info) == 0 &&
            (info.f_type == TMPFS_MAGIC || info.f_type == EXT4_SUPER_MAGIC)) {
            EXPECT_TRUE(FolderEntries(base).watching()) << base;
        }
    }
}

class FolderEntriesTest : public ::testing::Test {
protected:
    // Makes the folders under `base`, or skips the test where there is none.
    void makeFolders(const fs::path& base) {
        if (base.empty()) {
            GTEST_SKIP() << "no folder here is on a file system that is watched";
        }
        dir = base / ("tavrin-entries-" + std::to_string(std::random_device{}()));
        elsewhere = dir.string() + "-elsewhere";
        fs::create_directories(dir);
        fs::create_directories(elsewhere);
    }
    void SetUp() override { makeFolders(watchedBase()); }
    void TearDown() override {
        detail::setFolderWatchesForTesting(true);
        if (!dir.empty()) {
            fs::remove_all(dir);
            fs::remove_all(elsewhere);
        }
    }
    static void touch(const fs::path& path) { std::ofstream{path}; }

    // What a child saw, written where the parent reads it after the child ends.
    void report(bool seen, bool watching) const {
        std::ofstream(elsewhere / "report")
            << (seen ? "seen" : "missed") << (watching ? ", watched" : ", looked up");
    }
    std::string reported() const {
        std::string line;
        std::getline(std::ifstream(elsewhere / "report"), line);
        return line;
    }

    fs::path dir, elsewhere;
};

// Watched, and with every name looked up as where no watch can be trusted.
class FolderEntriesLookups : public FolderEntriesTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        makeFolders(GetParam() ? watchedBase() : fs::temp_directory_path());
        detail::setFolderWatchesForTesting(GetParam());
    }
};

TEST_P(FolderEntriesLookups, EveryEntryCountsWhetherThereFirstOrMadeLater) {
    touch(dir / ".hidden");
    fs::create_directory(dir / "sub");
    fs::create_symlink("nowhere", dir / "link");
    touch(dir / "写真.JPG");
    touch(dir / "gone.txt");
    FolderEntries entries(dir.string());
    fs::remove(dir / "gone.txt");
    entries.refresh();
    for (const char* name : {".hidden", "sub", "link", "写真.JPG"}) {
        EXPECT_TRUE(entries.contains(name)) << name;
    }
    EXPECT_FALSE(entries.contains("gone.txt"));
    EXPECT_FALSE(entries.contains("never.txt"));

    // Every way a name can come into the folder after it was read.
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> ways = {
        {"created", [](const fs::path& to) { touch(to); }},
        {"renamed within",
         [&](const fs::path& to) {
             touch(dir / "renamed.tmp");
             fs::rename(dir / "renamed.tmp", to);
         }},
        {"moved in",
         [&](const fs::path& to) {
             touch(elsewhere / "moved");
             fs::rename(elsewhere / "moved", to);
         }},
        {"folder", [](const fs::path& to) { fs::create_directory(to); }},
        {"symbolic link", [](const fs::path& to) { fs::create_symlink("nowhere", to); }},
        {"hard link",
         [&](const fs::path& to) {
             touch(elsewhere / "linked");
             fs::create_hard_link(elsewhere / "linked", to);
         }},
        {"pipe", [](const fs::path& to) { ::mkfifo(to.c_str(), 0600); }},
        {"unnamed file given a name",
         [&](const fs::path& to) {
             const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY, 0600);
             ASSERT_GE(fd, 0);
             const std::string self = "/proc/self/fd/" + std::to_string(fd);
             ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW);
             ::close(fd);
         }},
    };
    int n = 0;
    for (const auto& [way, make] : ways) {
        const std::string name = "Later" + std::to_string(++n) + ".dat";
        EXPECT_FALSE(entries.contains(name)) << way;
        make(dir / name);
        ASSERT_TRUE(fs::exists(fs::symlink_status(dir / name))) << way;
        entries.refresh();
        EXPECT_TRUE(entries.contains(name)) << way;
    }
    EXPECT_EQ(entries.watching(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Lookups, FolderEntriesLookups, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Watched" : "OneByOne"; });

// A name made after the folder is read but before the watch begins would be
// missed for good: the watch must come first.
TEST_F(FolderEntriesTest, ANameMadeAsTheWatchBeginsIsSeen) {
    const TraceResult r = traceCalls(
        [&] {
            FolderEntries entries(dir.string());
            entries.refresh();
            report(entries.contains("late.txt"), entries.watching());
        },
        [&](const SystemCall& call) {
            if (call.nr == SYS_inotify_add_watch) {
                touch(dir / "late.txt");
            }
            return Verdict{};
        });
    if (!r.traced) {
        GTEST_SKIP() << "cannot trace a child here";
    }
    EXPECT_EQ(reported(), "seen, watched");
}

// Out of watches (the system's limit), every name is looked up.
TEST_F(FolderEntriesTest, WithoutAWatchEveryNameIsLookedUp) {
    if (!canFailCalls) {
        GTEST_SKIP() << "cannot make a call fail here";
    }
    const TraceResult r = traceCalls(
        [&] {
            FolderEntries entries(dir.string());
            touch(dir / "later.txt");
            entries.refresh();
            report(entries.contains("later.txt"), entries.watching());
        },
        [](const SystemCall& call) {
            return Verdict{false, call.nr == SYS_inotify_add_watch ? ENOSPC : 0};
        });
    if (!r.traced) {
        GTEST_SKIP() << "cannot trace a child here";
    }
    EXPECT_EQ(reported(), "seen, looked up");
}

// More changes between two refreshes than the system queues: the ones it
// dropped are not missed, every name is looked up from then on.
TEST_F(FolderEntriesTest, AfterMoreChangesThanTheQueueHoldsEveryNameIsLookedUp) {
    long queued = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
    if (queued <= 0 || queued > 100000) {
        GTEST_SKIP() << "the queue holds " << queued << " changes";
    }
    FolderEntries entries(dir.string());
    const auto name = [](long i) { return "n" + std::to_string(i); };
    for (long i = 0; i <= queued; ++i) {
        ASSERT_EQ(::symlink("x", (dir / name(i)).c_str()), 0);
    }
    entries.refresh();
    EXPECT_FALSE(entries.watching());
    EXPECT_TRUE(entries.contains(name(queued)));
    EXPECT_FALSE(entries.contains("never"));
}

} // namespace
