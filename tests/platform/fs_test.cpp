#include "platform/fs.h"
#include "platform/fs_internal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#ifndef _WIN32
#include "tests/engine/traced_child.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#endif

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

// The restore's "is anything there" test sees every kind of entry, hidden or not.
TEST_F(PlatformFs, EntryKindSeesEveryEntryWithoutFollowingLinks) {
    write("a.txt", "x");
    fs::create_directory(dir / "sub");
    EXPECT_EQ(entryKind(path("a.txt")), EntryKind::File);
    EXPECT_EQ(entryKind(path("sub")), EntryKind::Folder);
    Status error;
    EXPECT_EQ(entryKind(path("missing"), &error), EntryKind::None);
    EXPECT_TRUE(error.ok());
    EXPECT_FALSE(entryExists(path("a.txt") + separator() + "x"));
    if (separator() == '/') {
        write(".hidden", "x");
        fs::create_symlink(dir / "missing", dir / "dangling");
        fs::create_symlink(dir / "loop", dir / "loop");
        EXPECT_EQ(entryKind(path(".hidden")), EntryKind::File);
        EXPECT_EQ(entryKind(path("dangling")), EntryKind::Link);
        EXPECT_FALSE(entryExists(path("loop") + "/x", &error));
        EXPECT_FALSE(error.ok()) << "a lookup that fails is no answer";
    }
}

TEST(PlatformNames, PlainNamesStayInTheirFolder) {
    for (const char* name : {"a.jpg", "..a", "a..", " ", "写真.jpg"}) {
        EXPECT_TRUE(isPlainName(name)) << name;
    }
    for (const std::string& name :
         std::vector<std::string>{"", ".", "..", "a/b", "/a", std::string("a\0b", 3)}) {
        EXPECT_FALSE(isPlainName(name)) << name;
    }
    // "\" separates only on Windows, where ":" names a drive or a stream.
    EXPECT_EQ(isPlainName("a\\b"), separator() != '\\');
    EXPECT_EQ(isPlainName("a:b"), separator() != '\\');
    EXPECT_EQ(hidesLeadingDot(), separator() == '/');
}

// A second user of the history is refused until the first lets go.
TEST_F(PlatformFs, FolderLockIsExclusive) {
    FolderLock first, second;
    ASSERT_TRUE(first.acquire(dir.string()).ok());
    const Status busy = second.acquire(dir.string());
    EXPECT_TRUE(busy.inUse());
    EXPECT_EQ(busy.reason, "ほかのプログラムが変更履歴を使っています");
    EXPECT_FALSE(second.held());
    first.release();
    EXPECT_TRUE(second.acquire(dir.string()).ok());
    EXPECT_FALSE(first.acquire(dir.string()).ok());
    second.release();
    const Status missing = first.acquire((dir / "missing").string());
    EXPECT_EQ(missing.kind, Status::Kind::Failed);
    EXPECT_EQ(missing.reason.rfind("変更履歴をロックできません：", 0), 0u) << missing.reason;
}

// A leftover of a rename cut short goes only when proved the program's own:
// a second name (never one name given twice), or a reservation holding the
// mark, or an empty one while its aside name holds the proof and the file it
// was taken for still has its name. Anything else stays as it is.
TEST_F(PlatformFs, LeftoverGoesOnlyWhenProvedTheProgramsOwn) {
    const std::string mark(reservationMark);
    struct Case {
        const char* what;
        std::map<std::string, std::string> files; // name -> content; "=a.txt" links to a.txt
        const char* leftover;
        bool removed;
    };
    const std::vector<Case> cases = {
        {"second name", {{"a.txt", "A"}, {"n.txt", "=a.txt"}}, "n.txt", true},
        {"one name twice", {{"a.txt", "A"}}, "a.txt", false},
        {"marked", {{"a.txt", "A"}, {"n.txt", mark}}, "n.txt", true},
        {"empty", {{"a.txt", "A"}, {"n.txt", ""}}, "n.txt", false},
        {"empty, proof aside", {{"a.txt", "A"}, {"n.txt", ""}, {"aside", mark}}, "n.txt", true},
        {"empty, proof aside, renamed onto", {{"n.txt", ""}, {"aside", mark}}, "n.txt", false},
        {"mark and more", {{"a.txt", "A"}, {"n.txt", mark + "x"}}, "n.txt", false},
        {"mark changed",
         {{"a.txt", "A"}, {"n.txt", mark.substr(0, mark.size() - 1) + "x"}},
         "n.txt",
         false},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        const std::string leftover = path(c.leftover), other = path("a.txt");
        if (c.files.count("n.txt") && c.files.at("n.txt") == "=a.txt") {
            if (separator() != '/') {
                continue; // the fallback renames that leave links are POSIX ones
            }
            write("a.txt", c.files.at("a.txt"));
            fs::create_hard_link(dir / "a.txt", dir / "n.txt");
        } else {
            for (const auto& [name, content] : c.files) {
                std::ofstream(name == "aside" ? fs::path(asidePath(leftover)) : dir / name,
                              std::ios::binary)
                    << content;
            }
        }
        bool own = !c.removed, removed = !c.removed;
        std::string failedPath;
        EXPECT_TRUE(isOwnLeftover(leftover, other, own, failedPath).ok()) << c.what;
        EXPECT_EQ(own, c.removed) << c.what;
        EXPECT_TRUE(removeOwnLeftover(leftover, other, removed, failedPath).ok()) << c.what;
        EXPECT_EQ(removed, c.removed) << c.what;
        EXPECT_EQ(fs::exists(leftover), !c.removed || std::string(c.leftover) == "a.txt") << c.what;
        if (c.files.count("a.txt")) {
            EXPECT_EQ(read("a.txt"), c.files.at("a.txt")) << c.what;
        }
        EXPECT_FALSE(fs::exists(asidePath(leftover)) && c.removed) << c.what;
    }
}

// What a removal cut short left aside: the program's own goes, a file of the
// user's goes back to its name, or stays, reported, while that name is taken.
TEST_F(PlatformFs, TidyingRemovesWhatIsOwnAndPutsAUsersFileBack) {
    const std::string name = path("n.txt"), other = path("a.txt");
    std::string failedPath;
    std::ofstream(asidePath(name), std::ios::binary) << "theirs";
    write("n.txt", "new");
    const Status taken = tidyAsides(name, other, failedPath);
    EXPECT_FALSE(taken.ok());
    EXPECT_EQ(failedPath, asidePath(name));
    EXPECT_EQ(read("n.txt"), "new");
    fs::remove(dir / "n.txt");
    EXPECT_TRUE(tidyAsides(name, other, failedPath).ok());
    EXPECT_EQ(read("n.txt"), "theirs");
    EXPECT_FALSE(fs::exists(asidePath(name)));
    if (separator() == '/') {
        // A second name of a file that has another, whichever pair left it.
        fs::rename(dir / "n.txt", dir / "z.txt");
        fs::create_hard_link(dir / "z.txt", asidePath(name));
        EXPECT_TRUE(tidyAsides(name, other, failedPath).ok());
        EXPECT_FALSE(fs::exists(dir / "n.txt"));
        EXPECT_FALSE(fs::exists(asidePath(name)));
        EXPECT_EQ(read("z.txt"), "theirs");
    }
}

#ifndef _WIN32
// A file saved under a name the program removes, between the look and the
// removal (a program saving by a temporary file and a rename), is what is
// moved aside, and it goes back: neither a leftover's removal, an empty
// reservation's settling nor the old name of a link-then-unlink rename is ever
// unlinked by a name looked at before. The file has a second name of its own,
// which proves nothing.
TEST_F(PlatformFs, FileSavedOverANameBeingRemovedStays) {
    const auto keepsTheSavedFile = [this] {
        bool removed = true;
        std::string failedPath;
        return removeOwnLeftover(path("n.txt"), path("a.txt"), removed, failedPath).ok() &&
               !removed;
    };
    const std::vector<std::pair<const char*, std::function<bool()>>> cases = {
        {"marked leftover", keepsTheSavedFile},
        {"empty reservation, its proof aside",
         [&] {
             write("n.txt", "");
             std::ofstream(asidePath(path("n.txt")), std::ios::binary) << reservationMark;
             return keepsTheSavedFile();
         }},
        {"link, then unlink",
         [this] {
             detail::setRenameFallbackForTesting(detail::RenameFallback::Link);
             return renameNoReplace(path("n.txt"), path("b.txt")).ok();
         }},
    };
    for (const auto& [what, body] : cases) {
        write("a.txt", "A");
        write("n.txt", std::string(reservationMark));
        write("saved.tmp", "saved meanwhile");
        fs::remove(dir / "saved.link");
        fs::create_hard_link(dir / "saved.tmp", dir / "saved.link"); // a file with two names
        const tavrin::testing::TraceResult traced = tavrin::testing::runTraced(
            [&body] { ::_exit(body() ? 0 : 1); },
            [&, renames = 0](long, long nr) mutable {
                if ((nr == SYS_rename || nr == SYS_renameat || nr == SYS_renameat2) &&
                    ++renames == 1) {
                    fs::rename(dir / "saved.tmp", dir / "n.txt");
                }
                return false;
            });
        ASSERT_TRUE(traced.traced);
        EXPECT_EQ(read("n.txt"), "saved meanwhile") << what;
        EXPECT_EQ(read("a.txt"), "A") << what;
        EXPECT_FALSE(fs::exists(asidePath(path("n.txt")))) << what;
    }
    EXPECT_EQ(read("b.txt"), std::string(reservationMark)) << "renamed all the same";
}

// A folder whose file system gives no locks (NFS without a lock service, some
// FUSE ones) may be shared with another machine: no lock. Every refusal says
// in Japanese that the history cannot be locked, and why.
TEST_F(PlatformFs, LockFailuresAreExplainedInJapanese) {
    if (!tavrin::testing::canFailCalls) {
        GTEST_SKIP() << "a call can be made to fail on x86-64 only";
    }
    const std::string noLocks = "このフォルダーのファイルシステムではロックを使えません";
    struct Row {
        long call;
        int error;
        std::string reason;
    };
    for (const Row& row :
         {Row{SYS_flock, ENOLCK, noLocks}, Row{SYS_flock, EOPNOTSUPP, noLocks},
          Row{SYS_flock, EINVAL, noLocks},
          Row{SYS_flock, EIO, "変更履歴をロックできません：ディスクの読み書きに失敗しました"},
          Row{SYS_openat, EACCES, "変更履歴をロックできません：アクセスが拒否されました"}}) {
        const tavrin::testing::TraceResult r = tavrin::testing::traceCalls(
            [this] {
                FolderLock lock;
                const Status s = lock.acquire(dir.string());
                write("answer", lock.held() ? "held" : s.reason);
            },
            [&, failed = false](const tavrin::testing::SystemCall& c) mutable {
                const bool fail = c.nr == row.call && !failed &&
                                  (c.nr != SYS_openat ||
                                   tavrin::testing::childString(c.pid, c.args[1]) == dir.string());
                failed = failed || fail;
                return tavrin::testing::Verdict{false, fail ? row.error : 0};
            });
        ASSERT_TRUE(r.traced);
        EXPECT_EQ(read("answer"), row.reason) << std::strerror(row.error);
    }
}

// FUSE answers a no-replace rename with EINVAL: the rename falls back, by path
// or within a held folder, and still never replaces. A held folder's look at
// its path that fails is no answer: it is reported, not taken as "still there".
TEST_F(PlatformFs, RenamesFallBackAndAFailedLookIsNoAnswer) {
    if (!tavrin::testing::canFailCalls) {
        GTEST_SKIP() << "a call can be made to fail on x86-64 only";
    }
    struct Row {
        const char* what;
        long call;
        int error;
        std::function<Status()> body;
        std::string answer; // the status's reason, or "renamed" with b.txt holding "alpha"
    };
    const auto held = [this](const char* from, const char* to) {
        HeldFolder folder(dir.string());
        return folder.rename(from, to);
    };
    for (const Row& row : {
             Row{"by path", SYS_renameat2, EINVAL,
                 [&] { return renameNoReplace(path("a.txt"), path("b.txt")); }, "renamed"},
             Row{"held", SYS_renameat2, EINVAL, [&] { return held("a.txt", "b.txt"); }, "renamed"},
             Row{"held, onto a taken name", SYS_renameat2, EINVAL,
                 [&] { return held("a.txt", "c.txt"); }, std::strerror(EEXIST)},
             Row{"held, its look", SYS_newfstatat, EIO,
                 [&] { return HeldFolder(dir.string()).stillAt(); }, std::strerror(EIO)},
         }) {
        fs::remove(dir / "b.txt");
        write("a.txt", "alpha");
        write("c.txt", "theirs");
        const tavrin::testing::TraceResult r = tavrin::testing::traceCalls(
            [&] {
                const Status s = row.body();
                write("answer", s.ok() && read("b.txt") == "alpha" ? "renamed" : s.reason);
            },
            [&, failed = false](const tavrin::testing::SystemCall& c) mutable {
                const bool fail =
                    c.nr == row.call && !failed &&
                    (c.nr != SYS_newfstatat ||
                     tavrin::testing::childString(c.pid, c.args[1]) == dir.string() + "/");
                failed = failed || fail;
                return tavrin::testing::Verdict{false, fail ? row.error : 0};
            });
        ASSERT_TRUE(r.traced);
        EXPECT_EQ(read("answer"), row.answer) << row.what;
        EXPECT_EQ(read("c.txt"), "theirs") << row.what;
    }
}

// The real look, never the tests' answer: no order between two file systems
// (/tmp and /dev/shm), and on one ext4 only with a journal. ext2 and ext4
// made without one report the same type as ext4. Made as loop devices where
// this user may mount them.
TEST_F(PlatformFs, OrderIsKeptOnlyWithinOneJournalledFileSystem) {
    EXPECT_FALSE(keepsOrderWith(dir.string(), "/dev/shm"));
    EXPECT_FALSE(keepsOrderWith("/dev/shm", dir.string()));
    struct Made {
        const char* mkfs;
        bool kept;
    };
    for (const Made m : {Made{"mkfs.ext4 -q", true}, Made{"mkfs.ext4 -q -O ^has_journal", false},
                         Made{"mkfs.ext2 -q", false}}) {
        const fs::path image = dir / "fs.img", mounted = dir / "mnt";
        fs::create_directories(mounted);
        const std::string made = "truncate -s 16M '" + image.string() + "' && " + m.mkfs + " -F '" +
                                 image.string() + "' >/dev/null 2>&1 && mount -o loop '" +
                                 image.string() + "' '" + mounted.string() + "' 2>/dev/null";
        if (std::system(made.c_str()) != 0) {
            GTEST_SKIP() << "cannot make and mount a file system with " << m.mkfs
                         << " (root, a loop device and e2fsprogs are needed)";
        }
        fs::create_directories(mounted / "a");
        fs::create_directories(mounted / "b");
        EXPECT_EQ(keepsOrderWith((mounted / "a").string(), (mounted / "b").string()), m.kept)
            << m.mkfs;
        // The same type on another device keeps no order with it.
        EXPECT_FALSE(keepsOrderWith((mounted / "a").string(), dir.string())) << m.mkfs;
        EXPECT_EQ(std::system(("umount '" + mounted.string() + "'").c_str()), 0);
        fs::remove(image);
    }
}

// Where a file system has neither RENAME_NOREPLACE nor hard links, the rename
// reserves the target name first and renames onto that empty file of its own.
TEST_F(PlatformFs, RenameByReservationNeverReplacesAFileThatAppears) {
    write("a.txt", "alpha");
    write("taken.txt", "theirs");
    EXPECT_TRUE(detail::renameByReservation(path("a.txt"), path("taken.txt")).targetExists());
    EXPECT_EQ(read("a.txt"), "alpha");
    EXPECT_EQ(read("taken.txt"), "theirs");
    // A rename that fails gives the reserved name back.
    EXPECT_EQ(detail::renameByReservation(path("gone.txt"), path("free.txt")).kind,
              Status::Kind::Failed);
    EXPECT_FALSE(fs::exists(dir / "free.txt"));

    // Another program creates the target just as the rename is issued: it finds
    // the name taken, and nothing of its is replaced.
    bool created = false;
    const tavrin::testing::TraceResult r = tavrin::testing::runTraced(
        [this] {
            const Status s = detail::renameByReservation(path("a.txt"), path("b.txt"));
            ::_exit(s.ok() ? 0 : 1);
        },
        [&](long, long nr) {
            if (nr == SYS_rename || nr == SYS_renameat || nr == SYS_renameat2) {
                const int fd = ::open(path("b.txt").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                if (fd >= 0) {
                    created = true;
                    ::close(fd);
                }
            }
            return false;
        });
    ASSERT_TRUE(r.traced);
    EXPECT_FALSE(created) << "the name was free while the rename was under way";
    EXPECT_EQ(read("b.txt"), "alpha");
    EXPECT_FALSE(fs::exists(dir / "a.txt"));

    // Another program saves into the reserved file just as the rename is issued:
    // what it saved keeps the name, and the file keeps its old one.
    const tavrin::testing::TraceResult saved = tavrin::testing::runTraced(
        [this] {
            const Status s = detail::renameByReservation(path("b.txt"), path("c.txt"));
            ::_exit(s.targetExists() ? 0 : 1);
        },
        [&, renames = 0](long, long nr) mutable {
            if ((nr == SYS_rename || nr == SYS_renameat || nr == SYS_renameat2) && ++renames == 1) {
                write("c.txt", "saved meanwhile");
            }
            return false;
        });
    ASSERT_TRUE(saved.traced);
    EXPECT_EQ(read("b.txt"), "alpha");
    EXPECT_EQ(read("c.txt"), "saved meanwhile");
}
#endif

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

// A folder this process cannot create files in, or false where that cannot
// be made (Windows ignores a folder's read-only attribute; root needs the
// immutable flag).
bool makeReadOnly(const fs::path& folder, bool readOnly) {
#ifndef _WIN32
    if (::geteuid() == 0) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        const bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                          (flags = readOnly ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL,
                           ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
        if (fd >= 0) {
            ::close(fd);
        }
        return done && detail::canCreateFileIn(folder.string()) != readOnly;
    }
#endif
    fs::permissions(folder, readOnly ? fs::perms::owner_read | fs::perms::owner_exec
                                     : fs::perms::owner_all);
    return detail::canCreateFileIn(folder.string()) != readOnly;
}

// Which of two folders holds the last run's history, by their generation
// files (a number that only grows, "" for none): the one chosen while it is
// writable, else its history copied into the other, which takes the next
// number. A history a later run replaced is never chosen, also once the newer
// one is undone. Histories from before the generation files: the one written
// last, which takes the first number.
TEST_F(PlatformFs, HistoryFolderIsWhereTheLastRunsHistoryLies) {
    const std::string program = path("prog"), state = path("state");
    struct Case {
        const char* label;
        const char* beside;         // a history file beside the program, or ""
        const char* inState;        // one in the user's folder, or ""
        const char* generations[2]; // program's, user's: before
        bool readOnly;              // the program folder
        bool stateWrittenLast;      // the user's history files are the newer
        bool inProgram;
        const char* after[2]; // the generations afterwards
    };
    for (const Case c : {
             Case{"nothing anywhere", "", "", {"", ""}, false, false, true, {"", ""}},
             Case{"only the user's", "", "Old.ini", {"", ""}, false, false, false, {"", ""}},
             Case{"only kept files", "", "New.ini.kept", {"", ""}, false, false, false, {"", ""}},
             Case{
                 "both, older ones", "Old.ini", "Old.ini", {"", ""}, false, false, true, {"1", ""}},
             Case{"both, the user's last",
                  "Old.ini",
                  "Old.ini",
                  {"", ""},
                  false,
                  true,
                  false,
                  {"", "1"}},
             Case{"the user's of a later run",
                  "Old.ini",
                  "Old.ini",
                  {"1", "2"},
                  false,
                  false,
                  false,
                  {"1", "2"}},
             Case{"the later one undone",
                  "Old.ini",
                  "",
                  {"1", "2"},
                  false,
                  false,
                  false,
                  {"1", "2"}},
             Case{"both undone", "", "", {"1", "2"}, false, false, true, {"3", "2"}},
             Case{"nothing, a read-only program folder",
                  "",
                  "",
                  {"", ""},
                  true,
                  false,
                  false,
                  {"", ""}},
             Case{"a read-only program folder's",
                  "Old.ini",
                  "",
                  {"", ""},
                  true,
                  false,
                  false,
                  {"", "1"}},
             Case{"a read-only one replaced",
                  "Old.ini",
                  "Old.ini",
                  {"1", "2"},
                  true,
                  false,
                  false,
                  {"1", "2"}},
             Case{"the user's, unreadable generation",
                  "Old.ini",
                  "Old.ini",
                  {"", "x"},
                  false,
                  true,
                  true,
                  {"", "x"}},
             Case{"the user's, a generation past the largest number",
                  "",
                  "Old.ini",
                  {"", "9999999999999999999"},
                  false,
                  false,
                  false,
                  {"", "9999999999999999999"}},
             Case{"the user's, a generation of a sign alone",
                  "Old.ini",
                  "Old.ini",
                  {"", "-"},
                  false,
                  true,
                  true,
                  {"", "-"}},
             Case{"a read-only program folder's, stale kept files in the user's",
                  "Old.ini",
                  "New.ini.kept",
                  {"", ""},
                  true,
                  false,
                  false,
                  {"", "1"}},
         }) {
        fs::remove_all(dir / "prog");
        fs::remove_all(dir / "state");
        fs::create_directories(dir / "prog");
        fs::create_directories(dir / "state");
        for (const auto& [folder, name] : {std::pair{program, c.beside}, {state, c.inState}}) {
            if (*name != '\0') {
                write((fs::path(folder).filename() / name).string(), folder + " history");
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (*c.generations[i] != '\0') {
                write((fs::path(i == 0 ? "prog" : "state") / "Tavrin.generation").string(),
                      c.generations[i]);
            }
        }
        if (*c.beside != '\0' && *c.inState != '\0') {
            const auto newer = fs::file_time_type::clock::now(),
                       older = newer - std::chrono::hours(1);
            fs::last_write_time(dir / "prog" / c.beside, c.stateWrittenLast ? older : newer);
            fs::last_write_time(dir / "state" / c.inState, c.stateWrittenLast ? newer : older);
        }
        if (c.readOnly && !makeReadOnly(dir / "prog", true)) {
            makeReadOnly(dir / "prog", false);
            continue; // Windows, or a file system without the flag
        }
        const std::string chosen = detail::chooseHistoryFolder(program, state);
        makeReadOnly(dir / "prog", false);
        EXPECT_EQ(chosen, c.inProgram ? program : state) << c.label;
        for (int i = 0; i < 2; ++i) {
            const fs::path file = fs::path(i == 0 ? "prog" : "state") / "Tavrin.generation";
            EXPECT_EQ(fs::exists(dir / file) ? read(file.string()) : "", c.after[i]) << c.label;
        }
        if (c.readOnly && *c.beside != '\0' && std::string_view(c.after[1]) != c.generations[1]) {
            // Copied: the user's folder holds the program folder's history alone.
            EXPECT_EQ(read("state/Old.ini"), program + " history") << "copied, " << c.label;
            EXPECT_FALSE(fs::exists(dir / "state" / "New.ini.kept")) << "copied, " << c.label;
        }
        // Nothing else is written, and a replaced history is left where it is.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "prog"), fs::directory_iterator{}),
                  (*c.beside != '\0') + (*c.after[0] != '\0'))
            << c.label;
    }
    EXPECT_EQ(detail::chooseHistoryFolder(program, ""), program);
#ifndef _WIN32
    // A history file that cannot be looked at may be the last run's.
    for (const char* folder : {"prog", "state"}) {
        fs::remove_all(dir / folder);
        fs::create_directories(dir / folder);
    }
    write("state/Old.ini", "x");
    if (tavrin::testing::canFailCalls) {
        namespace tt = tavrin::testing;
        ASSERT_TRUE(
            tt::traceCalls([&] { write("answer", detail::chooseHistoryFolder(program, state)); },
                           [&](const tt::SystemCall& c) {
                               const bool look =
                                   c.nr == SYS_newfstatat &&
                                   tt::childString(c.pid, c.args[1]) == state + "/Old.ini";
                               return tt::Verdict{false, look ? EIO : 0};
                           })
                .traced);
        EXPECT_EQ(read("answer"), state);
    }
#endif
}

#ifndef _WIN32
// A copy of a read-only folder's history killed at any call counts for
// nothing, and is made again whole at the next start.
TEST_F(PlatformFs, HistoryCopyKilledAtAnyCallIsMadeAgain) {
    const std::string program = path("prog"), state = path("state");
    fs::create_directories(dir / "prog");
    write("prog/Old.ini", "old lines");
    write("prog/New.ini", "new lines");
    if (!makeReadOnly(dir / "prog", true)) {
        makeReadOnly(dir / "prog", false);
        GTEST_SKIP() << "a folder cannot be made read-only here";
    }
    const auto choose = [&] { detail::chooseHistoryFolder(program, state); };
    long syncs = 0;
    const long calls = tavrin::testing::runTraced(choose, [&syncs](long, long nr) {
                           syncs += nr == SYS_fdatasync || nr == SYS_fsync;
                           return false;
                       }).calls;
    // The two copies and two generation files, each before it counts; the folder thrice.
    EXPECT_GE(syncs, 7);
    for (long call = 1; call <= calls; ++call) {
        fs::remove_all(dir / "state");
        tavrin::testing::killAtCall(choose, call);
        EXPECT_EQ(detail::chooseHistoryFolder(program, state), state) << "killed at " << call;
        EXPECT_EQ(read("state/Old.ini") + read("state/New.ini"), "old linesnew lines")
            << "killed at " << call;
    }
    makeReadOnly(dir / "prog", false);
}
#endif

// A program folder the user may not write: the user's folder, made with its
// parents. Nobody, root included, can make a file below a file.
TEST_F(PlatformFs, HistoryFolderOfAReadOnlyProgramFolderIsTheUsers) {
    const std::string program = path("prog"), deep = path("home/.local/state/tavrin");
    write("file", "");
    EXPECT_EQ(detail::chooseHistoryFolder(path("file") + separator() + "prog", deep), deep);
    EXPECT_TRUE(fs::is_directory(deep));
    fs::remove_all(dir / "home");
    fs::create_directories(dir / "prog");
    const bool refused = makeReadOnly(dir / "prog", true);
    if (refused) {
        EXPECT_EQ(detail::chooseHistoryFolder(program, deep), deep);
        EXPECT_TRUE(fs::is_directory(deep));
    }
    makeReadOnly(dir / "prog", false);
    if (!refused) {
        GTEST_SKIP() << "a folder cannot be made read-only here";
    }
}

// The choice is made once: a history that appears later moves nothing.
TEST_F(PlatformFs, HistoryFolderIsChosenOnce) {
    fs::create_directories(dir / "prog");
    setProgramFolderForTesting(path("prog"));
    EXPECT_EQ(historyFolder(), path("prog")) << "tests keep the history beside their program";
    setUserStateFolderForTesting(path("state"));
    EXPECT_EQ(historyFolder(), path("prog"));
    fs::create_directories(dir / "state");
    std::ofstream(dir / "state" / "Old.ini") << "x";
    EXPECT_EQ(historyFolder(), path("prog"));
    setUserStateFolderForTesting(path("state"));
    EXPECT_EQ(historyFolder(), path("state"));
    setUserStateFolderForTesting({});
    setProgramFolderForTesting({});
}

#ifdef _WIN32
TEST(PlatformFolders, UserStateFolderIsInLocalAppData) {
    _putenv_s("LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local");
    EXPECT_EQ(userStateFolder(), "C:\\Users\\u\\AppData\\Local\\Tavrin");
}
#else
// Run under ctest, one case per process: the changed environment goes with it.
TEST(PlatformFolders, UserStateFolderFollowsXdg) {
    ::setenv("HOME", "/home/u", 1);
    ::setenv("XDG_STATE_HOME", "/s", 1);
    EXPECT_EQ(userStateFolder(), "/s/tavrin");
    ::setenv("XDG_STATE_HOME", "relative", 1);
    EXPECT_EQ(userStateFolder(), "/home/u/.local/state/tavrin");
}
#endif

} // namespace
