// The order of a run's system calls, watched without pulling a plug: no file
// is renamed before both history files were made durable after the write that
// holds its pair, and the history's folder was made durable after the files
// were created and after they were moved into place. At every rename, the
// pairs on record whose renames have not happened name free targets and files
// that still have their old names, which is what a restore after a power cut
// counts as restored. With the user's folder on another disk, which keeps no
// order with the history's, the folder is made durable before the history
// relies on its renames: before a new history replaces the old, before a pair
// takes a name a rename freed, before a restore cuts pairs off or deletes the
// history; and kept pairs are durable before they leave Old.ini. Linux only:
// the run and the restore are traced with ptrace.
#include "test_support.h"
#include "traced_child.h"

#include "engine/history.h"
#include "engine/tavrinM.h"

#include <gmock/gmock.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/resource.h>
#include <sys/syscall.h>

using namespace tavrin;
using namespace tavrin::testing;

namespace {

// What the traced run did to the history, and every fault of order it showed.
class Watch {
public:
    Watch(const fs::path& dir, const fs::path& prog, bool twoDisks)
        : twoDisks_(twoDisks), dir_(utf8(dir)), prog_(utf8(prog)) {}

    void see(const SystemCall& c) {
        const auto arg = [&c](std::size_t i) { return c.args[i]; };
        std::string from, to;
        if (c.nr == SYS_openat) {
            const std::string path = childString(c.pid, arg(1));
            if (folderOf(path) == prog_ && (arg(2) & O_CREAT) != 0) {
                lastCreate_ = c.call;
            }
        } else if (c.nr == SYS_write) {
            if (File* f = file(c.pid, arg(0))) {
                const std::string bytes = childBytes(c.pid, arg(1), arg(2));
                f->written += bytes;
                checkDurableLines(c);
                for (const std::string& name : linesOf(bytes)) {
                    if (freed_.count(name) != 0 && !f->old && !f->kept) {
                        fault(c, "recorded " + name + ", freed by a rename not yet durable");
                    }
                }
            }
        } else if (c.nr == SYS_ftruncate) {
            if (File* f = file(c.pid, arg(0))) {
                f->written.resize(arg(1));
                checkDurableLines(c);
                // Without order, a power cut could keep New.ini's cut alone.
                if (!f->kept && !f->old && twoDisks_ && oldCutPending_) {
                    fault(c, "cut New.ini before the cut of Old.ini was durable");
                }
                oldCutPending_ = oldCutPending_ || (f->old && !f->kept);
                if (f->old && !f->kept) {
                    checkReliedOn(c, "cut the history");
                    for (const auto& [fd, k] : files_) {
                        if (k.kept && k.durable != k.written) {
                            fault(c, "cut the history before the kept pairs were durable");
                        }
                    }
                    if (restoring) {
                        checkCutPairsKept(c);
                    }
                }
            }
        } else if (c.nr == SYS_unlink || c.nr == SYS_unlinkat) {
            const std::string path = childString(c.pid, arg(c.nr == SYS_unlink ? 0 : 1));
            if (path == prog_ + "/Old.ini" || path == prog_ + "/New.ini") {
                checkReliedOn(c, "deleted the history");
            }
        } else if (c.nr == SYS_fdatasync || c.nr == SYS_fsync) {
            if (File* f = file(c.pid, arg(0))) {
                f->durable = f->written;
                ++fileSyncs;
                keptSyncs += f->kept ? 1 : 0;
                oldCutPending_ = oldCutPending_ && !(f->old && !f->kept);
                checkDurableLines(c);
            } else if (const std::string path = childFdPath(c.pid, arg(0)); path == prog_) {
                lastFolderSync_ = c.call;
            } else if (path == dir_) {
                ++userSyncs;
                lastUserSync_ = c.call;
                freed_.clear();
            }
        } else if (c.nr == SYS_close) {
            // The restore's cuts need no sync where the history is written no more.
            if (const File* f = file(c.pid, arg(0));
                f != nullptr && f->durable != f->written && !restoring) {
                fault(c, "a history file was closed with lines that were not durable");
            }
            files_.erase(arg(0));
        } else if (renamePaths(c, from, to)) {
            if (folderOf(from) == dir_) {
                ++renames;
                if (!restoring) {
                    checkRename(c, from.substr(dir_.size() + 1), to.substr(dir_.size() + 1));
                }
                // At its entry: a rename whose file is not there will fail.
                if (fs::exists(fs::symlink_status(u8(from)))) {
                    lastUserRename_ = c.call;
                    if (twoDisks_) {
                        freed_.insert(from.substr(dir_.size() + 1));
                    }
                }
            } else if (folderOf(from) == prog_) {
                lastMove_ = c.call;
                if (to == prog_ + "/Old.ini") {
                    checkReliedOn(c, "replaced the earlier history");
                }
            }
        }
    }

    // After the run: the history was put in place, and its folder made durable after.
    void finish() {
        if (lastMove_ == 0 || lastFolderSync_ < lastMove_) {
            faults.push_back("the folder was not made durable after the history was moved there");
        }
    }

    std::vector<std::string> faults;
    long renames = 0, fileSyncs = 0, keptSyncs = 0, userSyncs = 0;
    bool restoring = false;

private:
    struct File {
        bool old = false, kept = false;
        std::string written, durable;
    };

    // On two disks, the history relies on the renames in the user's folder
    // only once that folder was made durable after them.
    void checkReliedOn(const SystemCall& c, const std::string& what) {
        if (twoDisks_ && lastUserSync_ < lastUserRename_) {
            fault(c, what + " before the renames in the folder were durable");
        }
    }

    static std::string folderOf(const std::string& path) {
        const auto slash = path.find_last_of('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }

    static bool renamePaths(const SystemCall& c, std::string& from, std::string& to) {
        if (c.nr == SYS_renameat || c.nr == SYS_renameat2) {
            from = childString(c.pid, c.args[1]);
            to = childString(c.pid, c.args[3]);
            return true;
        }
#ifdef SYS_rename
        if (c.nr == SYS_rename) {
            from = childString(c.pid, c.args[0]);
            to = childString(c.pid, c.args[1]);
            return true;
        }
#endif
        return false;
    }

    // The history file open as `fd`, or null for any other file.
    File* file(pid_t pid, std::uint64_t fd) {
        if (const auto it = files_.find(fd); it != files_.end()) {
            return &it->second;
        }
        const std::string path = childFdPath(pid, fd);
        if (folderOf(path) != prog_) {
            return nullptr;
        }
        const std::string name = path.substr(prog_.size() + 1);
        if (name != "Old.ini" && name != "Old.ini.new" && name != "New.ini" &&
            name != "New.ini.new" && name != "Old.ini.kept" && name != "New.ini.kept") {
            return nullptr;
        }
        File& f = files_[fd];
        f.old = name.starts_with("Old");
        f.kept = name.ends_with(".kept");
        return &f;
    }

    void fault(const SystemCall& c, const std::string& what) {
        faults.push_back("call " + std::to_string(c.call) + ": " + what);
    }

    // What a power cut leaves of a file is what was made durable or, since
    // the system writes back when it likes, what was written since. Whichever
    // it is, Old.ini must not have a line whose partner New.ini lacks, or the
    // history would not be read at all.
    void checkDurableLines(const SystemCall& c) {
        std::size_t oldMost = 0, newLeast = 0;
        bool newSeen = false;
        for (const auto& [fd, f] : files_) {
            if (f.kept) {
                continue;
            }
            const std::size_t durable = linesOf(f.durable).size();
            const std::size_t written = linesOf(f.written).size();
            if (f.old) {
                oldMost = std::max(durable, written);
            } else {
                newLeast = newSeen ? std::min(newLeast, std::min(durable, written))
                                   : std::min(durable, written);
                newSeen = true;
            }
        }
        if (oldMost > newLeast) {
            fault(c, "Old.ini could outlast a power cut with more lines than New.ini");
        }
    }

    // At a cut of Old.ini, still whole on disk: each pair cut off has its old
    // name back, or is durable in the kept files.
    void checkCutPairsKept(const SystemCall& c) {
        const std::string bytes = readBytes(u8(childFdPath(c.pid, c.args[0])));
        std::set<std::string> kept;
        for (const auto& [fd, f] : files_) {
            if (f.kept && f.old) {
                const auto lines = linesOf(f.durable);
                kept.insert(lines.begin(), lines.end());
            }
        }
        for (const std::string& name : linesOf(bytes.substr(std::min(bytes.size(), c.args[1])))) {
            if (!name.starts_with("-") && !fs::exists(u8(dir_ + "/" + name)) && !kept.count(name)) {
                fault(c, "cut " + name + " off Old.ini before it was durable in the kept files");
            }
        }
    }

    void checkRename(const SystemCall& c, const std::string& oldName, const std::string& newName) {
        if (lastFolderSync_ < lastCreate_) {
            fault(c, "renamed " + oldName + " before the history's folder was made durable");
        }
        std::vector<std::string> oldLines, newLines;
        for (const auto& [fd, f] : files_) {
            if (!f.kept) {
                (f.old ? oldLines : newLines) = linesOf(f.durable);
            }
        }
        const auto at = std::find(oldLines.begin(), oldLines.end(), oldName);
        const auto k = static_cast<std::size_t>(at - oldLines.begin());
        if (at == oldLines.end() || k >= newLines.size() || newLines[k] != newName) {
            fault(c, "renamed " + oldName + " before its pair was durable in both files");
            return;
        }
        // From this pair on, nothing was renamed yet: none names a taken name.
        for (std::size_t i = k; i < oldLines.size() && i < newLines.size(); ++i) {
            if (fs::exists(fs::symlink_status(u8(dir_ + "/" + newLines[i]))) ||
                !fs::exists(u8(dir_ + "/" + oldLines[i]))) {
                fault(c, "at the rename of " + oldName + ", the pair " + oldLines[i] + " -> " +
                             newLines[i] + " on record would not count as restored");
            }
        }
    }

    bool twoDisks_;
    std::string dir_, prog_;
    std::map<std::uint64_t, File> files_; // history files by descriptor
    std::set<std::string> freed_;         // on two disks: old names of renames not yet durable
    long lastCreate_ = 0, lastFolderSync_ = 0, lastMove_ = 0;
    long lastUserRename_ = 0, lastUserSync_ = 0;
    bool oldCutPending_ = false; // Old.ini was cut since it was last made durable
};

// Ten files each take the name the one before has just left.
void chainOfTen(std::vector<std::string>& listed, std::vector<std::string>&) {
    for (int i = 200; i < 210; ++i) {
        listed[static_cast<std::size_t>(i)] = "photo" + std::to_string(i + 1) + ".jpg";
    }
}

struct Traced {
    const char* label;
    // Changes to the 300 listed files, and other files made in the folder.
    std::function<void(std::vector<std::string>& listed, std::vector<std::string>& others)> files;
    std::function<void(RecordingActions&)> set;
    long renamed;  // files renamed, all in the history at the end
    long attempts; // renames tried
    long batches;  // of at most 16 files
    bool twoDisks = false;
};

void PrintTo(const Traced& t, std::ostream* os) {
    *os << t.label;
}

class DurableOrderTest : public TempFolder, public ::testing::WithParamInterface<Traced> {};

TEST_P(DurableOrderTest, NoRenameBeforeItsPairIsDurable) {
    const Traced& t = GetParam();
    writeHistory({{"x.jpg", "y.jpg"}}); // so the new history starts as pending files
    std::vector<std::string> listed;
    for (int i = 0; i < 300; ++i) {
        listed.push_back("f" + std::to_string(i) + ".jpg");
    }
    std::vector<std::string> others;
    if (t.files) {
        t.files(listed, others);
    }
    makeFiles(listed);
    makeFiles(others);
    setBatchLimitForTesting(16);
    platform::setOrderKeptForTesting(t.twoDisks ? 0 : 1);
    const FixedRunInputs in = inputs(listed);
    Watch watch(dir, prog, t.twoDisks);
    const TraceResult r = traceCalls(
        [&] {
            RecordingActions act;
            if (t.set) {
                t.set(act);
            }
            RenameRun(in, act);
        },
        [&](const SystemCall& c) {
            watch.see(c);
            return Verdict{};
        });
    platform::setOrderKeptForTesting(-1);
    ASSERT_TRUE(r.traced) << "ptrace is needed to watch a child's system calls";
    watch.finish();

    EXPECT_THAT(watch.faults, ::testing::IsEmpty());
    EXPECT_EQ(watch.renames, t.attempts);
    // On one disk that keeps its order, a run costs no sync of the user's folder.
    EXPECT_EQ(watch.userSyncs > 0, t.twoDisks);
    // A sync of each file per batch, at the start, and for a cut at the end.
    EXPECT_LE(watch.fileSyncs, 2 * (t.batches + 2));
    std::string oldBytes = folderLine(), newBytes = folderLine();
    for (long i = 0; i < t.renamed; ++i) {
        oldBytes += listed[static_cast<std::size_t>(i)] + "\r\n";
        newBytes += "photo" + std::to_string(i) + ".jpg\r\n";
    }
    EXPECT_EQ(oldIni(), oldBytes);
    EXPECT_EQ(newIni(), newBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Run, DurableOrderTest,
    ::testing::Values(Traced{"Completed", {}, {}, 300, 300, 19},
                      // A chain: each file takes the name the one before it has just left,
                      // so each is recorded once that name is free.
                      Traced{"Chain", chainOfTen, {}, 300, 300, 28},
                      Traced{"CompletedOnTwoDisks", {}, {}, 300, 300, 19, true},
                      Traced{"ChainOnTwoDisks", chainOfTen, {}, 300, 300, 28, true},
                      // The file whose new name is taken ends the run, never recorded or tried.
                      Traced{"ClashInTheMiddleOfABatch",
                             [](std::vector<std::string>&, std::vector<std::string>& others) {
                                 others.push_back("photo40.jpg");
                             },
                             {},
                             40,
                             40,
                             3},
                      // End after the file in hand: the pairs ahead of it go again, durably.
                      Traced{"EndInTheMiddleOfABatch",
                             {},
                             [](RecordingActions& act) {
                                 act.onYield = [&act, yields = 0]() mutable {
                                     act.ending = ++yields == 20;
                                 };
                             },
                             20,
                             20,
                             2}),
    [](const auto& info) { return std::string(info.param.label); });

// The restore of a chain, with pairs that cannot be restored among its pairs,
// on one disk and on two. The first one's old name is freed by the chain, so
// that it is kept in a batch of its own; the last 21 are kept in batches.
class RestoreOrderTest : public TempFolder {};

TEST_F(RestoreOrderTest, CutsNothingBeforeItsRenamesAndKeptPairsAreDurable) {
    for (const bool twoDisks : {false, true}) {
        std::vector<std::pair<std::string, std::string>> pairs = {{"photo0.jpg", "gone.jpg"}};
        std::string keptOld = folderLine() + "photo0.jpg\r\n",
                    keptNew = folderLine() + "gone.jpg\r\n";
        std::vector<std::string> now;
        for (int i = 0; i < 40; ++i) {
            pairs.emplace_back("photo" + std::to_string(i + 1) + ".jpg",
                               "photo" + std::to_string(i) + ".jpg");
            now.push_back("photo" + std::to_string(i) + ".jpg");
        }
        for (int i = 0; i < 21; ++i) {
            pairs.emplace_back("b" + std::to_string(i) + ".jpg",
                               "gone" + std::to_string(i) + ".jpg");
            keptOld += pairs.back().first + "\r\n";
            keptNew += pairs.back().second + "\r\n";
        }
        fs::remove_all(dir);
        fs::create_directory(dir);
        makeFiles(now);
        writeHistory(pairs);
        setRestoreBatchLimitForTesting(8);
        platform::setOrderKeptForTesting(twoDisks ? 0 : 1);
        Watch watch(dir, prog, twoDisks);
        watch.restoring = true;
        const TraceResult r = traceCalls(
            [] {
                tavrinM::SetHistoryPaths();
                RestoreNames();
            },
            [&](const SystemCall& c) {
                watch.see(c);
                return Verdict{};
            });
        platform::setOrderKeptForTesting(-1);
        ASSERT_TRUE(r.traced);
        EXPECT_THAT(watch.faults, ::testing::IsEmpty()) << twoDisks;
        EXPECT_EQ(watch.userSyncs > 0, twoDisks);
        // Each kept file is made durable once for each batch that keeps a pair.
        EXPECT_LE(watch.keptSyncs, 2 * 4) << twoDisks;
        EXPECT_EQ(oldIni(), keptOld);
        EXPECT_EQ(newIni(), keptNew);
        EXPECT_TRUE(fs::exists(dir / "photo40.jpg") && !fs::exists(dir / "photo0.jpg"));
    }
}

// A history file that cannot be made durable stops the run before the batch
// it holds is renamed; the history again names exactly the files renamed.
struct SyncFails {
    const char* label;
    long failing; // which fdatasync fails: the start makes two, each batch two more
    RunEnding ending;
    long renamed;
    std::string message; // "<prog>" for the program folder, "<error>" for the reason
};

void PrintTo(const SyncFails& f, std::ostream* os) {
    *os << f.label;
}

class SyncFailsTest : public TempFolder, public ::testing::WithParamInterface<SyncFails> {};

TEST_P(SyncFailsTest, RunStopsBeforeTheBatchAndCutsTheHistoryBack) {
    if (!canFailCalls) {
        GTEST_SKIP() << "a call can be made to fail on x86-64 only";
    }
    const SyncFails& f = GetParam();
    writeHistory({{"x.jpg", "y.jpg"}});
    const std::string oldBefore = oldIni(), newBefore = newIni();
    std::vector<std::string> listed;
    for (int i = 0; i < 40; ++i) {
        listed.push_back("f" + std::to_string(i) + ".jpg");
    }
    makeFiles(listed);
    setBatchLimitForTesting(16);
    const FixedRunInputs in = inputs(listed);
    const fs::path shown = root / "message";
    const fs::path ending = root / "ending";
    long syncs = 0;
    const TraceResult r = traceCalls(
        [&] {
            tavrinM::setMessageFunction([&](const std::string& text) { writeBytes(shown, text); });
            RecordingActions act;
            writeBytes(ending, std::to_string(static_cast<int>(RenameRun(in, act))));
        },
        [&](const SystemCall& c) {
            return Verdict{false, c.nr == SYS_fdatasync && ++syncs == f.failing ? EIO : 0};
        });
    ASSERT_TRUE(r.traced);

    std::string message = f.message;
    for (const auto& [mark, text] : {std::pair<std::string, std::string>{"<prog>", utf8(prog)},
                                     {"<error>", std::strerror(EIO)}}) {
        message.replace(message.find(mark), mark.size(), text);
    }
    EXPECT_EQ(readBytes(shown), message);
    EXPECT_EQ(readBytes(ending), std::to_string(static_cast<int>(f.ending)));
    EXPECT_EQ(entries(prog), (std::vector<std::string>{"New.ini", "Old.ini"}));
    if (f.renamed == 0) {
        EXPECT_EQ(oldIni(), oldBefore);
        EXPECT_EQ(newIni(), newBefore);
    } else {
        std::string oldBytes = folderLine(), newBytes = folderLine();
        for (long i = 0; i < f.renamed; ++i) {
            oldBytes += listed[static_cast<std::size_t>(i)] + "\r\n";
            newBytes += "photo" + std::to_string(i) + ".jpg\r\n";
        }
        EXPECT_EQ(oldIni(), oldBytes);
        EXPECT_EQ(newIni(), newBytes);
    }
    for (long i = 0; i < 40; ++i) {
        const std::string name = i < f.renamed ? "photo" + std::to_string(i) + ".jpg"
                                               : listed[static_cast<std::size_t>(i)];
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Run, SyncFailsTest,
    ::testing::Values(
        SyncFails{"AtTheStart", 1, RunEnding::HistoryFailed, 0,
                  "変更履歴を書き込めないため、変更を中止しました：<prog>/New.ini\n<error>"},
        SyncFails{"BeforeTheFirstBatch", 4, RunEnding::Stopped, 0,
                  "変更を中止しました：f0.jpg\n変更履歴を書き込めません：<prog>/Old.ini\n<error>"},
        SyncFails{"BeforeALaterBatch", 5, RunEnding::Stopped, 16,
                  "変更を中断しました：f16.jpg\n変更履歴を書き込めません：<prog>/New.ini\n<error>\n"
                  "途中までの変更は復元で元に戻せます。"}),
    [](const auto& info) { return std::string(info.param.label); });

// A disk that fills up mid-batch: Old.ini is written short. The history is
// cut back to whole pairs by its real size, so it still reads, and its undo
// is what the message promises.
TEST_F(RestoreOrderTest, FullDiskCutsTheHistoryBackToWholePairs) {
    std::vector<std::string> listed;
    for (int i = 0; i < 40; ++i) {
        listed.push_back("a_long_original_name_" + std::to_string(i) + ".jpg");
    }
    makeFiles(listed);
    const auto before = contents();
    setBatchLimitForTesting(16);
    std::uintmax_t limit = folderLine().size() + 200;
    for (int i = 0; i < 16; ++i) {
        limit += listed[static_cast<std::size_t>(i)].size() + 2;
    }
    const FixedRunInputs in = inputs(listed);
    const fs::path shown = root / "message";
    const TraceResult r = traceCalls(
        [&] {
            tavrinM::setMessageFunction([&](const std::string& text) { writeBytes(shown, text); });
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit size{limit, limit};
            setrlimit(RLIMIT_FSIZE, &size);
            RecordingActions act;
            RenameRun(in, act);
        },
        [](const SystemCall&) { return Verdict{}; });
    setBatchLimitForTesting(0);
    ASSERT_TRUE(r.traced);
    EXPECT_EQ(readBytes(shown), "変更を中断しました：" + listed[16] +
                                    "\n変更履歴を書き込めません：" + utf8(prog / "Old.ini") + "\n" +
                                    std::strerror(EFBIG) +
                                    "\n途中までの変更は復元で元に戻せます。");
    tavrinM::SetHistoryPaths();
    // A history that does not read, or a pair left without its partner, fails here.
    const RestoreResult restored = RestoreNames();
    EXPECT_EQ(restored.problem, RestoreResult::Problem::None) << restored.reason;
    EXPECT_EQ(restored.restored, 16);
    EXPECT_TRUE(restored.failed.empty());
    EXPECT_EQ(contents(), before);
}

// A look that fails is no answer that nothing is there: the run or the
// restore stops, names the file and the system's reason, and leaves the
// history and the files as they were. A run that then renames nothing (a
// clash at its first file) leaves the history it found; a killed run's
// pending history that counts is not dropped; a pair that cannot be restored
// is not taken for one found restored; kept pairs are not lost.
TEST_F(RestoreOrderTest, FailedLookIsNeverNotThere) {
    if (!canFailCalls) {
        GTEST_SKIP() << "a call can be made to fail on x86-64 only";
    }
    struct Case {
        const char* what;
        const char* file; // in the program's folder, or "dir/" and a name in the user's
        int failing;      // which look at it fails; 0 for every one
        bool restore;     // else a run
        bool pending, kept;
    };
    const std::vector<Case> cases = {
        {"run, Old.ini", "Old.ini", 1, false, false, false},
        {"run, pending Old.ini.new", "Old.ini.new", 1, false, true, false},
        {"restore, pending Old.ini.new", "Old.ini.new", 1, true, true, false},
        {"restore, a new name", "dir/n1.jpg", 1, true, false, false},
        {"restore, the kept files", "Old.ini.kept", 0, true, false, true},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::remove_all(prog);
        fs::create_directory(dir);
        fs::create_directory(prog);
        // A history whose second pair cannot be restored (its old name is
        // taken); a pair kept by a stopped restore, or a killed run's pending
        // history that counts (its first file was renamed).
        writeHistory({{"x.jpg", "y.jpg"}, {"b.jpg", "n1.jpg"}});
        if (c.kept) {
            writeBytes(prog / "Old.ini.kept", folderLine() + "k.jpg\r\n");
            writeBytes(prog / "New.ini.kept", folderLine() + "kept.jpg\r\n");
        }
        if (c.pending) {
            writeBytes(prog / "Old.ini.new", folderLine() + "p.jpg\r\n");
            writeBytes(prog / "New.ini.new", folderLine() + "pending.jpg\r\n");
        }
        makeFiles({"a.jpg", "photo0.jpg", "b.jpg", "n1.jpg", "pending.jpg"});
        std::map<std::string, std::string> history;
        for (const auto& name : entries(prog)) {
            history[name] = readBytes(prog / name);
        }
        const auto files = contents();
        const std::string failingPath = std::string_view(c.file).starts_with("dir/")
                                            ? utf8(dir / (c.file + 4))
                                            : utf8(prog / c.file);
        const fs::path shown = root / "shown";
        const FixedRunInputs in = inputs({"a.jpg"});
        int looks = 0;
        const TraceResult r = traceCalls(
            [&] {
                tavrinM::setMessageFunction(
                    [&](const std::string& text) { writeBytes(shown, text); });
                if (c.restore) {
                    tavrinM::SetHistoryPaths();
                    const RestoreResult result = RestoreNames();
                    writeBytes(shown, result.path + "\n" + result.reason);
                } else {
                    RecordingActions act;
                    RenameRun(in, act);
                }
            },
            [&](const SystemCall& call) {
                const bool look = call.nr == SYS_newfstatat &&
                                  (call.args[3] & AT_SYMLINK_NOFOLLOW) != 0 &&
                                  childString(call.pid, call.args[1]) == failingPath;
                return Verdict{false, look && (++looks == c.failing || c.failing == 0) ? EIO : 0};
            });
        ASSERT_TRUE(r.traced);
        ASSERT_GE(looks, std::max(c.failing, 1)) << c.what; // the look was made
        for (const auto& [name, bytes] : history) {
            EXPECT_EQ(readBytes(prog / name), bytes) << name << ", " << c.what;
        }
        EXPECT_EQ(entries(prog).size(), history.size()) << c.what;
        EXPECT_EQ(contents(), files) << c.what;
        EXPECT_NE(readBytes(shown).find(failingPath + "\n" + std::strerror(EIO)), std::string::npos)
            << readBytes(shown) << ", " << c.what;
    }
}

// Memory that runs short while the history is read ends the reading and the
// restore with a message, never the program, and leaves the history as it was.
TEST_F(RestoreOrderTest, ShortageOfMemoryIsReportedAndTheHistoryKept) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer needs more address space than the test leaves";
#endif
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 300000; ++i) {
        pairs.emplace_back("f" + std::to_string(i) + ".jpg", "photo" + std::to_string(i) + ".jpg");
    }
    writeHistory(pairs);
    const std::string oldBefore = oldIni(), result = utf8(root / "result");
    ASSERT_TRUE(traceCalls(
                    [&] {
                        // Two MiB more than the child holds: not room for the history's 9 MB.
                        const auto room = static_cast<rlim_t>(
                            std::stol(readBytes("/proc/self/statm")) * ::sysconf(_SC_PAGESIZE) +
                            (2 << 20));
                        const rlimit limit{room, room};
                        setrlimit(RLIMIT_AS, &limit);
                        tavrinM::SetHistoryPaths();
                        writeBytes(result, ReadHistory().reason + "|" + RestoreNames().reason);
                    },
                    [](const SystemCall&) { return Verdict{}; })
                    .traced);
    EXPECT_EQ(readBytes(result), "メモリが足りません|メモリが足りません");
    EXPECT_EQ(oldIni(), oldBefore);
}

} // namespace
