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
// history, and a restore's cut that follows such a sync is durable before its
// next rename; and kept pairs, and the folder the kept files were made in, are
// durable before a kept pair leaves Old.ini. The same watch follows runs and
// restores in which one call fails. Linux only: the run and the restore are
// traced with ptrace.
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
#include <optional>
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
        : twoDisks_(twoDisks), historyOrdered_(platform::keepsOrderWith(utf8(prog), utf8(prog))),
          dir_(utf8(dir)), prog_(utf8(prog)) {}

    void see(const SystemCall& c) {
        const auto arg = [&c](std::size_t i) { return c.args[i]; };
        std::string from, to;
        if (c.nr == SYS_openat) {
            const std::string path = childString(c.pid, arg(1));
            if (folderOf(path) == prog_ && (arg(2) & O_CREAT) != 0) {
                lastCreate_ = c.call;
                if (path.ends_with(".kept")) {
                    lastKeptCreate_ = c.call;
                }
            }
        } else if (c.nr == SYS_write) {
            if (File* f = file(c.pid, arg(0))) {
                const std::string bytes = childBytes(c.pid, arg(1), arg(2));
                f->written += bytes;
                pendingHeldPairs_ =
                    pendingHeldPairs_ || (!restoring && f->old && f->path.ends_with(".new") &&
                                          linesOf(f->written).size() > 1);
                checkDurableLines(c);
                for (const std::string& name : linesOf(bytes)) {
                    if (freed_.count(name) != 0 && !f->old && !f->kept && !restoring) {
                        fault(c, "recorded " + name + ", freed by a rename not yet durable");
                    }
                }
            }
        } else if (c.nr == SYS_ftruncate) {
            if (File* f = file(c.pid, arg(0))) {
                f->written.resize(arg(1));
                checkDurableLines(c);
                // Without order, a power cut could keep New.ini's cut alone.
                if (!f->kept && !f->old && !historyOrdered_ && oldCutPending_) {
                    fault(c, "cut New.ini before the cut of Old.ini was durable");
                }
                if (f->old && !f->kept) {
                    oldCutPending_ = true;
                    cutAfterUserSync_ = lastUserSync_ > lastOldCut_;
                    lastOldCut_ = c.call;
                }
                // A run cuts off only pairs whose renames never happened.
                if (f->old && !f->kept && restoring) {
                    checkReliedOn(c, "cut the history");
                    if (lastFolderSync_ < lastKeptCreate_) {
                        fault(c, "cut the history before the kept files' folder was durable");
                    }
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
            held_.erase(path); // what a deleted file held is read by no one
            if (path == prog_ + "/Old.ini.new" && pendingHeldPairs_) {
                lastPendingUnlink_ = c.call;
                pendingHeldPairs_ = false;
            }
        } else if (c.nr == SYS_fdatasync || c.nr == SYS_fsync) {
            if (File* f = file(c.pid, arg(0))) {
                f->durable = f->written;
                ++fileSyncs;
                keptSyncs += f->kept ? 1 : 0;
                oldCutPending_ = oldCutPending_ && !(f->old && !f->kept);
                cutAfterUserSync_ = cutAfterUserSync_ && !(f->old && !f->kept);
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
                f != nullptr && f->durable != f->written && !restoring && !f->syncFailed) {
                hold(c, *f, "a history file was closed with lines that were not durable");
            }
            files_.erase(arg(0));
        } else if (renamePaths(c, from, to)) {
            if (folderOf(from) == dir_) {
                ++renames;
                if (!restoring) {
                    checkRename(c, from.substr(dir_.size() + 1), to.substr(dir_.size() + 1));
                } else if (twoDisks_ && cutAfterUserSync_) {
                    // The cut of pairs whose names the batch freed must outlast
                    // any later rename, which may take such a name.
                    fault(c, "renamed before the cut that followed the folder's sync was durable");
                }
                // At its entry: a rename whose file is not there, or whose new
                // name is taken, will fail.
                if (fs::exists(fs::symlink_status(u8(from))) &&
                    !fs::exists(fs::symlink_status(u8(to)))) {
                    lastUserRename_ = c.call;
                    if (twoDisks_) {
                        freed_.insert(from.substr(dir_.size() + 1));
                    }
                }
            } else if (folderOf(from) == prog_) {
                lastMove_ = c.call;
                // A restore only writes back the pairs it has not cut off.
                if (to == prog_ + "/Old.ini" && !restoring) {
                    checkReliedOn(c, "replaced the earlier history");
                }
            }
        }
    }

    // A call that failed and did nothing: a history file it was to make durable cannot be.
    void failed(const SystemCall& c) {
        if (c.nr == SYS_fdatasync || c.nr == SYS_fsync) {
            if (File* f = file(c.pid, c.args[0])) {
                f->syncFailed = true;
            } else if (childFdPath(c.pid, c.args[0]) == prog_) {
                lastFolderSyncTried_ = c.call;
            }
        }
    }

    // After the run: the history was put in place, and its folder made durable after.
    void finish() {
        if (lastMove_ == 0 || lastFolderSync_ < lastMove_) {
            faults.push_back("the folder was not made durable after the history was moved there");
        }
        settle();
    }

    // The faults in what files held, of the files that were not deleted again;
    // and pending files with pairs a run dropped, which could come back after a
    // power cut and count, unless their folder was made durable after.
    void settle() {
        if (lastPendingUnlink_ > std::max(lastFolderSync_, lastFolderSyncTried_)) {
            faults.push_back("pending files were removed, and their folder not made durable after");
        }
        for (auto& [path, held] : held_) {
            faults.insert(faults.end(), held.begin(), held.end());
        }
        held_.clear();
    }

    std::vector<std::string> faults;
    std::set<std::string> gone; // listed files that are not there: their pairs never count
    long renames = 0, fileSyncs = 0, keptSyncs = 0, userSyncs = 0;
    bool restoring = false;

private:
    struct File {
        bool old = false, kept = false;
        bool syncFailed = false; // what could not be made durable is reported instead
        std::string path, written, durable;
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
            from = childAtPath(c.pid, c.args[0], c.args[1]);
            to = childAtPath(c.pid, c.args[2], c.args[3]);
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
        f.path = path;
        f.old = name.starts_with("Old");
        f.kept = name.ends_with(".kept");
        return &f;
    }

    void fault(const SystemCall& c, const std::string& what) {
        faults.push_back("call " + std::to_string(c.call) + ": " + what);
    }

    // A fault in what `f` holds, which matters only if it is not deleted
    // again (the pending files of a run that renamed nothing).
    void hold(const SystemCall& c, const File& f, const std::string& what) {
        held_[f.path].push_back("call " + std::to_string(c.call) + ": " + what);
    }

    // What a power cut leaves of a file is what was made durable or, since
    // the system writes back when it likes, what was written since. Whichever
    // it is, Old.ini must not have a line whose partner New.ini lacks, or the
    // history would not be read at all.
    void checkDurableLines(const SystemCall& c) {
        std::size_t oldMost = 0, newLeast = 0;
        bool newSeen = false;
        const File* old = nullptr;
        for (const auto& [fd, f] : files_) {
            if (f.kept) {
                continue;
            }
            const std::size_t durable = linesOf(f.durable).size();
            const std::size_t written = linesOf(f.written).size();
            if (f.old) {
                old = &f;
                oldMost = std::max(durable, written);
            } else {
                newLeast = newSeen ? std::min(newLeast, std::min(durable, written))
                                   : std::min(durable, written);
                newSeen = true;
            }
        }
        if (oldMost > newLeast) {
            hold(c, *old, "Old.ini could outlast a power cut with more lines than New.ini");
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
            if (gone.count(oldLines[i]) == 0 &&
                (fs::exists(fs::symlink_status(u8(dir_ + "/" + newLines[i]))) ||
                 !fs::exists(u8(dir_ + "/" + oldLines[i])))) {
                fault(c, "at the rename of " + oldName + ", the pair " + oldLines[i] + " -> " +
                             newLines[i] + " on record would not count as restored");
            }
        }
    }

    bool twoDisks_, historyOrdered_;
    std::string dir_, prog_;
    std::map<std::uint64_t, File> files_; // history files by descriptor
    std::set<std::string> freed_;         // on two disks: old names of renames not yet durable
    std::map<std::string, std::vector<std::string>> held_; // faults in what a file held
    long lastCreate_ = 0, lastKeptCreate_ = 0, lastFolderSync_ = 0, lastMove_ = 0;
    long lastUserRename_ = 0, lastUserSync_ = 0, lastOldCut_ = 0;
    long lastPendingUnlink_ = 0, lastFolderSyncTried_ = 0;
    bool pendingHeldPairs_ = false; // a run's Old.ini.new held pairs
    bool oldCutPending_ = false;    // Old.ini was cut since it was last made durable
    bool cutAfterUserSync_ = false; // and that cut followed a sync of the user's folder
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
// on one disk and on two, the history's disk keeping its order or not. The
// first one's old name is freed by the chain, so that it is kept in a batch of
// its own; the last 21 are kept in batches.
class RestoreOrderTest : public TempFolder {};

TEST_F(RestoreOrderTest, CutsNothingBeforeItsRenamesAndKeptPairsAreDurable) {
    for (const int order : {1, 0, 2}) { // as setOrderKeptForTesting takes it
        const bool twoDisks = order != 1;
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
        platform::setOrderKeptForTesting(order);
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
        watch.settle();
        EXPECT_THAT(watch.faults, ::testing::IsEmpty()) << order;
        EXPECT_EQ(watch.userSyncs > 0, twoDisks);
        // Each kept file is made durable once for each batch that keeps a pair.
        EXPECT_LE(watch.keptSyncs, 2 * 4) << order;
        EXPECT_EQ(oldIni(), keptOld);
        EXPECT_EQ(newIni(), keptNew);
        EXPECT_TRUE(fs::exists(dir / "photo40.jpg") && !fs::exists(dir / "photo0.jpg"));
    }
}

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

// Which calls a row of the injected errors fails.
enum class Calls { Look, Read, Write, Sync, Cut, Rename, Unlink };

const char* nameOf(Calls calls) {
    constexpr const char* names[] = {"look", "read", "write", "sync", "cut", "rename", "unlink"};
    return names[static_cast<int>(calls)];
}

// The file or folder under `root` that a call of the kind `calls` acts on;
// empty for any other call.
std::string targetOf(const SystemCall& c, Calls calls, const std::string& root) {
    // The older calls that take a path first, where the system has them.
    std::optional<Calls> byPath;
#ifdef SYS_stat
    byPath = c.nr == SYS_stat || c.nr == SYS_lstat || c.nr == SYS_access ? Calls::Look
             : c.nr == SYS_truncate                                      ? Calls::Cut
             : c.nr == SYS_rename                                        ? Calls::Rename
             : c.nr == SYS_unlink ? std::optional(Calls::Unlink)
                                  : std::nullopt;
#endif
    const bool onFd = (calls == Calls::Look && c.nr == SYS_fstat) ||
                      (calls == Calls::Read &&
                       (c.nr == SYS_read || c.nr == SYS_pread64 || c.nr == SYS_getdents64)) ||
                      (calls == Calls::Write &&
                       (c.nr == SYS_write || c.nr == SYS_pwrite64 || c.nr == SYS_writev)) ||
                      (calls == Calls::Sync && (c.nr == SYS_fdatasync || c.nr == SYS_fsync)) ||
                      (calls == Calls::Cut && c.nr == SYS_ftruncate);
    const bool atFolder =
        (calls == Calls::Look && (c.nr == SYS_newfstatat || c.nr == SYS_statx ||
                                  c.nr == SYS_faccessat || c.nr == SYS_faccessat2)) ||
        (calls == Calls::Rename && (c.nr == SYS_renameat2 || c.nr == SYS_renameat)) ||
        (calls == Calls::Unlink && c.nr == SYS_unlinkat);
    const std::string path = onFd              ? childAtFolder(c.pid, c.args[0])
                             : atFolder        ? childAtPath(c.pid, c.args[0], c.args[1])
                             : byPath == calls ? childString(c.pid, c.args[0])
                                               : std::string();
    return path.starts_with(root + "/") ? path : std::string();
}

struct Injection {
    std::string label;
    bool restore;  // a restore, else a run
    bool twoDisks; // the user's folder keeps no order with the history's
    // A run: whether it stops where a listed file has gone (after renaming
    // some), or at once at a new name taken (renaming nothing). A restore:
    // whether it finds leftovers of fallback renames cut short.
    enum class Ending { Completes, FileGone, NameTaken, Leftovers } ending = Ending::Completes;
    Calls calls;
    int error;
};

void PrintTo(const Injection& i, std::ostream* os) {
    *os << i.label;
}

// Each look, read, write, sync (the user's folder's too), cut, rename and
// unlink of a small run and of a small restore, on one disk and on two, fails
// once, at each of its occurrences in turn. Afterwards what the program said
// is true: a failure it reports carries the system's reason and names the
// file, it claims no success that is not on disk, and the history names
// exactly the pairs still to undo; and a restore without faults then brings
// back every name.
class InjectedErrorTest : public TempFolder, public ::testing::WithParamInterface<Injection> {
protected:
    // The run: six files renamed in batches of two, over an earlier history
    // that a run killed after its first rename left pending.
    static constexpr int files = 6;
    static constexpr int gone = 4; // the listed file that has gone, in a run that stops
    static std::string listed(int i) { return "f" + std::to_string(i) + ".jpg"; }
    static std::string renamed(int i) { return "photo" + std::to_string(i) + ".jpg"; }

    // The restore: a chain (e1 and e2 had become e0 and e1), pairs that go in
    // one batch, a pair whose old name was taken since (kept), and a pair a
    // stopped restore kept, whose old name is free again.
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"a.jpg", "p0.jpg"}, {"b.jpg", "p1.jpg"},  {"sq.jpg", "p2.jpg"}, {"c.jpg", "p3.jpg"},
        {"d.jpg", "p4.jpg"}, {"e1.jpg", "e0.jpg"}, {"e2.jpg", "e1.jpg"}};
    const std::pair<std::string, std::string> keptPair = {"k.jpg", "q.jpg"};

    void SetUp() override {
        TempFolder::SetUp();
        result = root / "result";
        setBatchLimitForTesting(2);
        platform::setOrderKeptForTesting(GetParam().twoDisks ? 0 : 1);
    }
    void TearDown() override {
        platform::setOrderKeptForTesting(-1);
        TempFolder::TearDown();
    }

    void prepare() {
        for (const fs::path& folder : {dir, prog}) {
            fs::remove_all(folder);
            fs::create_directory(folder);
        }
        fs::remove(result);
        if (!GetParam().restore) {
            for (int i = 0; i < files; ++i) {
                if (GetParam().ending != Injection::Ending::FileGone || i != gone) {
                    makeFile(listed(i));
                }
            }
            // The history a killed run's pending files replace: it renamed
            // z.jpg to w.jpg after x.jpg had become y.jpg.
            makeFile("y.jpg", "x.jpg");
            writeHistory({{"x.jpg", "y.jpg"}});
            makeFile("w.jpg", "z.jpg");
            if (GetParam().ending == Injection::Ending::NameTaken) {
                makeFile(renamed(0), "squatter");
            }
            writeBytes(prog / "Old.ini.new", folderLine() + "z.jpg\r\n");
            writeBytes(prog / "New.ini.new", folderLine() + "w.jpg\r\n");
            return;
        }
        for (const auto& [oldName, newName] : pairs) {
            makeFile(newName, oldName);
        }
        makeFile("e1.jpg", "e2.jpg"); // the chain: e1.jpg holds what was e2.jpg
        makeFile("sq.jpg", "squatter");
        if (GetParam().ending == Injection::Ending::Leftovers) {
            // A second name left by a link, a restore's marked reservation, and
            // an empty one whose proof is its aside name.
            fs::create_hard_link(dir / "p3.jpg", dir / "c.jpg");
            makeFile("d.jpg", mark);
            writeBytes(dir / "b.jpg", "");
            writeBytes(platform::asidePath(utf8(dir / "b.jpg")), mark);
        }
        makeFile(keptPair.second, keptPair.first);
        writeHistory(pairs);
        writeBytes(prog / "Old.ini.kept", folderLine() + keptPair.first + "\r\n");
        writeBytes(prog / "New.ini.kept", folderLine() + keptPair.second + "\r\n");
    }

    // In the child: the run or the restore, with what it reported written to `result`.
    void operate() {
        std::string report;
        if (!GetParam().restore) {
            std::string shown;
            tavrinM::setMessageFunction([&](const std::string& text) { shown += text; });
            std::vector<std::string> names;
            for (int i = 0; i < files; ++i) {
                names.push_back(listed(i));
            }
            RecordingActions act;
            const RunEnding ending = RenameRun(inputs(names), act);
            report = std::to_string(static_cast<int>(ending)) + "\x1f" + shown;
        } else {
            tavrinM::SetHistoryPaths();
            const RestoreResult r = RestoreNames();
            report = std::to_string(static_cast<int>(r.problem)) + "\x1f" + r.path + "\x1f" +
                     r.reason + "\x1f" + std::to_string(r.restored);
            for (const RestoreFailure& f : r.failed) {
                report += "\x1f" + f.pair.oldName + "\x1f" + f.reason;
            }
        }
        writeBytes(result, report);
    }

    std::vector<std::string> reported() const {
        std::vector<std::string> fields;
        std::string field;
        for (const char ch : readBytes(result)) {
            if (ch == '\x1f') {
                fields.push_back(std::move(field));
                field.clear();
            } else {
                field += ch;
            }
        }
        fields.push_back(std::move(field));
        return fields;
    }

    // The system's reason, and a file or folder of the test named.
    void expectReason(const std::string& text, const std::string& what) const {
        EXPECT_NE(text.find(std::strerror(GetParam().error)), std::string::npos)
            << "no system's reason in \"" << text << "\", " << what;
        EXPECT_TRUE(text.find(utf8(root)) != std::string::npos ||
                    text.find(".jpg") != std::string::npos)
            << "no file named in \"" << text << "\", " << what;
    }

    void checkRun(const std::string& what) {
        const std::vector<std::string> r = reported();
        ASSERT_EQ(r.size(), 2u) << "the run ended without a report, " << what;
        const auto ending = static_cast<RunEnding>(std::stoi(r[0]));
        const std::string& message = r[1];
        // Every file under one of its names, the renamed ones first in list order.
        int done = 0;
        for (int i = 0; i < files; ++i) {
            const auto holds = [&](const std::string& name) {
                return fs::exists(dir / name) && readBytes(dir / name) == listed(i);
            };
            const bool isNew = holds(renamed(i)), isOld = holds(listed(i));
            if (GetParam().ending == Injection::Ending::FileGone && i == gone) {
                ASSERT_FALSE(isNew || isOld) << what;
                continue;
            }
            ASSERT_NE(isNew, isOld) << listed(i) << " lost, " << what;
            ASSERT_TRUE(!isNew || i == done) << "renamed out of order, " << what;
            done += isNew;
        }
        const std::string stopped = "変更を中断しました：" + listed(gone) + "\n" +
                                    std::strerror(ENOENT) +
                                    "\n途中までの変更は復元で元に戻せます。";
        if (ending == RunEnding::Completed) {
            EXPECT_EQ(message, "変更完了") << what;
            EXPECT_EQ(done, files) << "変更完了 with files not renamed, " << what;
        } else if (GetParam().ending == Injection::Ending::FileGone && message == stopped) {
            EXPECT_EQ(done, gone) << what;
        } else if (GetParam().ending == Injection::Ending::NameTaken &&
                   message == "既に同名のファイルが存在します、ファイル名を変更してください。") {
            EXPECT_EQ(done, 0) << what;
        } else {
            expectReason(message, what);
            EXPECT_TRUE(message.starts_with(done == 0 ? "変更" : "変更を中断しました"))
                << message << ", " << what;
            if (done == 0) {
                EXPECT_EQ(message.find("途中までの変更"), std::string::npos) << what;
            }
        }
        // The history names exactly the renamed files; the earlier one stands
        // when none was. Only a run that says its undo may fall short (a cut
        // back failed) may leave pairs of renames that never happened.
        tavrinM::SetHistoryPaths();
        const HistoryRead history = ReadHistory();
        ASSERT_TRUE(history.ok) << history.path << ": " << history.reason << ", " << what;
        const bool promised =
            ending == RunEnding::Completed ||
            message.find("途中までの変更は復元で元に戻せます") != std::string::npos;
        std::vector<std::string> expected, got;
        for (const HistoryPair& pair : history.pairs) {
            got.push_back(pair.oldName + " -> " + pair.newName);
        }
        for (int i = 0; i < (done > 0 && !promised ? std::max<int>(done, got.size()) : done); ++i) {
            expected.push_back(listed(i) + " -> " + renamed(i));
        }
        if (done == 0) {
            expected.push_back("z.jpg -> w.jpg");
        }
        EXPECT_EQ(got, expected) << what;

        const RestoreResult restored = RestoreNames();
        EXPECT_EQ(restored.problem, RestoreResult::Problem::None)
            << restored.reason << ", " << what;
        for (const RestoreFailure& f : restored.failed) {
            EXPECT_TRUE(GetParam().ending == Injection::Ending::FileGone &&
                        f.pair.oldName == listed(gone))
                << f.pair.oldName << ": " << f.reason << ", " << what;
        }
        std::map<std::string, std::string> before;
        for (int i = 0; i < files; ++i) {
            if (GetParam().ending != Injection::Ending::FileGone || i != gone) {
                before[listed(i)] = listed(i);
            }
        }
        before["y.jpg"] = "x.jpg";
        if (GetParam().ending == Injection::Ending::NameTaken) {
            before[renamed(0)] = "squatter";
        }
        before[done == 0 ? "z.jpg" : "w.jpg"] = "z.jpg";
        EXPECT_EQ(contents(), before) << what;
    }

    void checkRestore(const std::string& what) {
        const std::vector<std::string> r = reported();
        ASSERT_GE(r.size(), 4u) << "the restore ended without a report, " << what;
        const auto problem = static_cast<RestoreResult::Problem>(std::stoi(r[0]));
        if (problem != RestoreResult::Problem::None) {
            expectReason(r[1] + "\n" + r[2], what);
        }
        // Each file under its old or its new name, and the report says which.
        auto all = pairs;
        all.push_back(keptPair);
        long back = 0;
        std::vector<std::string> stillNew;
        for (const auto& [oldName, newName] : all) {
            const bool isNew = fs::exists(dir / newName) && readBytes(dir / newName) == oldName;
            // Not back while a second name of its is left aside by a removal stopped.
            const bool aside = fs::exists(u8(platform::asidePath(utf8(dir / newName))));
            const bool isOld = oldName != "sq.jpg" && fs::exists(dir / oldName) &&
                               readBytes(dir / oldName) == oldName && !aside &&
                               !(isNew && fs::equivalent(dir / oldName, dir / newName));
            ASSERT_TRUE(isOld != isNew || (aside && !isNew)) << oldName << " lost, " << what;
            back += isOld;
            if (!isOld) {
                stillNew.push_back(oldName);
            }
        }
        EXPECT_EQ(std::stol(r[3]), back) << "restored pairs miscounted, " << what;
        std::vector<std::string> failed;
        for (std::size_t i = 4; i + 1 < r.size(); i += 2) {
            failed.push_back(r[i]);
            // A pair whose old name a pair not restored still holds fails with
            // the clash; a leftover of the program's there is no clash.
            if (r[i + 1] != std::strerror(EEXIST) || !fs::exists(dir / r[i]) ||
                readBytes(dir / r[i]) == mark) {
                expectReason(r[i] + ": " + r[i + 1], what);
            }
        }
        std::sort(stillNew.begin(), stillNew.end());
        if (problem == RestoreResult::Problem::None) {
            std::sort(failed.begin(), failed.end());
            EXPECT_EQ(failed, stillNew) << "a pair not restored went unreported, " << what;
        }
        // Stopped by a failed look: what its batch restored was cut off first.
        tavrinM::SetHistoryPaths();
        if (problem == RestoreResult::Problem::LookFailed) {
            std::vector<std::string> onRecord;
            for (const HistoryPair& pair : ReadHistory().pairs) {
                onRecord.push_back(pair.oldName);
            }
            std::sort(onRecord.begin(), onRecord.end());
            EXPECT_EQ(onRecord, stillNew) << "the history names restored pairs, " << what;
        }

        const RestoreResult again = RestoreNames();
        EXPECT_EQ(again.problem, RestoreResult::Problem::None) << again.reason << ", " << what;
        ASSERT_EQ(again.failed.size(), 1u) << what;
        EXPECT_EQ(again.failed[0].pair.oldName, "sq.jpg") << what;
        std::map<std::string, std::string> expected{{"sq.jpg", "squatter"}, {"p2.jpg", "sq.jpg"}};
        for (const auto& [oldName, newName] : all) {
            if (oldName != "sq.jpg") {
                expected[oldName] = oldName;
            }
        }
        EXPECT_EQ(contents(), expected) << what;
        // The pair that could not be restored is still on record.
        const HistoryRead history = ReadHistory();
        ASSERT_TRUE(history.ok) << history.reason << ", " << what;
        ASSERT_EQ(history.pairs.size(), 1u) << what;
        EXPECT_EQ(history.pairs[0].oldName, "sq.jpg") << what;
    }

    fs::path result;
    const std::string mark{platform::reservationMark};
};

TEST_P(InjectedErrorTest, ReportIsTrueAndARestoreBringsBackEveryName) {
    if (!canFailCalls) {
        GTEST_SKIP() << "a call can be made to fail on x86-64 only";
    }
    const Injection& injection = GetParam();
    const std::string rootText = utf8(root), resultText = utf8(result);
    // The watch sees every call but the one that failed, which never ran: a
    // failed sync makes nothing durable.
    const auto failing = [&](long occurrence, long& seen, Watch* watch) {
        return [&, occurrence, watch](const SystemCall& c) {
            const std::string path = targetOf(c, injection.calls, rootText);
            const bool fails = !path.empty() && path != resultText && ++seen == occurrence;
            if (watch != nullptr) {
                fails ? watch->failed(c) : watch->see(c);
            }
            return Verdict{false, fails ? injection.error : 0};
        };
    };
    prepare();
    long occurrences = 0;
    ASSERT_TRUE(traceCalls([this] { operate(); }, failing(0, occurrences, nullptr)).traced)
        << "ptrace is needed to fail a child's system calls";
    EXPECT_GT(occurrences, 0);
    for (long k = 1; k <= occurrences; ++k) {
        prepare();
        long seen = 0;
        Watch watch(dir, prog, injection.twoDisks);
        watch.restoring = injection.restore;
        if (injection.ending == Injection::Ending::FileGone) {
            watch.gone.insert(listed(gone));
        }
        traceCalls([this] { operate(); }, failing(k, seen, &watch));
        watch.settle();
        const std::string what = std::string(nameOf(injection.calls)) + " " + std::to_string(k) +
                                 " of " + std::to_string(occurrences) + " failed with " +
                                 std::strerror(injection.error);
        EXPECT_THAT(watch.faults, ::testing::IsEmpty()) << what;
        if (injection.restore) {
            checkRestore(what);
        } else {
            checkRun(what);
        }
    }
}

std::vector<Injection> injections() {
    using Ending = Injection::Ending;
    struct Operation {
        const char* label;
        bool restore, twoDisks;
        Ending ending;
    };
    std::vector<Injection> rows;
    for (const Operation op : {Operation{"Run", false, false, Ending::Completes},
                               Operation{"RunOnTwoDisks", false, true, Ending::Completes},
                               Operation{"RunThatStops", false, false, Ending::FileGone},
                               Operation{"RunThatRenamesNothing", false, false, Ending::NameTaken},
                               Operation{"Restore", true, false, Ending::Completes},
                               Operation{"RestoreOnTwoDisks", true, true, Ending::Completes},
                               Operation{"RestoreOfLeftovers", true, false, Ending::Leftovers}}) {
        for (int n = 0; n <= static_cast<int>(Calls::Unlink); ++n) {
            const auto calls = static_cast<Calls>(n);
            for (const int error : {EIO, ENOSPC}) {
                // A run cuts its history back only after a rename failed.
                if ((error == EIO || calls == Calls::Write) &&
                    (calls != Calls::Cut || op.restore || op.ending == Ending::FileGone)) {
                    rows.push_back({std::string(op.label) + "_" + nameOf(calls) +
                                        (error == EIO ? "_EIO" : "_ENOSPC"),
                                    op.restore, op.twoDisks, op.ending, calls, error});
                }
            }
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, InjectedErrorTest, ::testing::ValuesIn(injections()),
                         [](const auto& info) { return info.param.label; });

} // namespace
