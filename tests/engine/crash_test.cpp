// Runs and restores killed at a random system call, or at every one of them,
// must leave a history from which finishing the restore brings back every
// original name and content, and that reports no pair whose file is right as
// failed. The kills come from ptrace, at the entry of the call chosen. A power
// cut is replayed from the calls of a run and a restore, recorded the same way.
#include "test_support.h"
#include "traced_child.h"

#include "engine/history.h"
#include "engine/tavrinM.h"
#include "platform/fs_internal.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/syscall.h>

using namespace tavrin;
using namespace tavrin::testing;

namespace {

using Contents = std::map<std::string, std::string>;

std::string described(const std::vector<RestoreFailure>& failed) {
    std::string out;
    for (const auto& f : failed) {
        out += f.pair.newName + " -> " + f.pair.oldName + ": " + f.reason + "; ";
    }
    return out;
}

class CrashTest : public TempFolder {
protected:
    void SetUp() override {
        TempFolder::SetUp();
        other = root / "other";
        fs::create_directory(other);
    }

    // A chain: photo1 … photoN become photo0 … photoN-1, each file taking the
    // name the one before it has just left; then q1 … qM follow on.
    FixedRunInputs chainRun(const fs::path& folder, int chain, int tail) const {
        FixedRunInputs in = inputs({}, "photo", "jpg");
        in.Folder = folder.string();
        for (int i = 1; i <= chain; ++i) {
            in.Files.push_back("photo" + std::to_string(i) + ".jpg");
        }
        for (int i = 1; i <= tail; ++i) {
            in.Files.push_back("q" + std::to_string(i) + ".jpg");
        }
        return in;
    }

    static Contents freshFiles(const fs::path& folder, const FixedRunInputs& in) {
        fs::remove_all(folder);
        fs::create_directory(folder);
        Contents made;
        for (const auto& name : in.Files) {
            writeBytes(folder / name, "content of " + name);
            made[name] = "content of " + name;
        }
        return made;
    }

    static Contents contentsOf(const fs::path& folder) {
        Contents out;
        for (const auto& name : entries(folder)) {
            out[name] = readBytes(folder / u8(name));
        }
        return out;
    }

    void freshProgramFolder() const {
        fs::remove_all(prog);
        fs::create_directory(prog);
    }

    static void runInProcess(const FixedRunInputs& in) {
        RecordingActions act;
        ASSERT_EQ(RenameRun(in, act), RunEnding::Completed);
    }

    // The restore as the undo command offers it: only while there is an Old.ini.
    static RestoreResult restore() {
        tavrinM::SetHistoryPaths();
        return tavrinM::PathExists(tavrinM::OldIniPath) ? RestoreNames() : RestoreResult{};
    }

    // What a child runs: the run over `dir`, or the restore.
    const std::function<void()> runInChild = [this] {
        RecordingActions act;
        RenameRun(run, act);
    };
    const std::function<void()> restoreInChild = [] { restore(); };

    // The earlier history, and the files of `run` under their old names.
    void beforeARun() {
        earlierHistoryWithAKeptPair();
        before = freshFiles(dir, run);
    }

    // System calls of `body` run to its end in a child.
    static long callsOf(const std::function<void()>& body) {
        const TraceResult r = runTraced(body, [](long, long) { return false; });
        EXPECT_TRUE(r.traced) << "ptrace is needed to stop a child at a system call";
        return r.calls;
    }

    bool kill(const std::function<void()>& body, long call, long& counter) {
        const TraceResult r = killAtCall(body, call);
        if (r.killed) {
            ++kills;
            ++counter;
            halfMoved += fs::exists(prog / "Old.ini.new") && !fs::exists(prog / "New.ini.new");
        }
        return r.killed;
    }

    // The earlier run over `other`, and a restore of it stopped with a pair it
    // could not restore, as a restore killed there leaves it: that pair cut off
    // Old.ini and kept.
    void earlierHistoryWithAKeptPair() {
        freshProgramFolder();
        otherBefore = freshFiles(other, earlier);
        runInProcess(earlier);
        writeBytes(other / squatted, "squatter");
        const std::string folder = "-" + utf8(other) + sep() + "\r\n";
        std::string oldIni = folder, newIni = folder;
        for (std::size_t i = 0; i + 1 < earlier.Files.size(); ++i) {
            oldIni += earlier.Files[i] + "\r\n";
            newIni += "photo" + std::to_string(i) + ".jpg\r\n";
        }
        ASSERT_EQ(earlier.Files.back(), squatted);
        writeBytes(prog / "Old.ini", oldIni);
        writeBytes(prog / "New.ini", newIni);
        writeBytes(prog / "Old.ini.kept", folder + squatted + "\r\n");
        writeBytes(prog / "New.ini.kept",
                   folder + "photo" + std::to_string(earlier.Files.size() - 1) + ".jpg\r\n");
    }

    // After a run over `dir` was killed: finishing the restore brings the
    // files of `dir` back. Whichever history it found (the earlier one, when
    // the run had renamed nothing), no pair of one run is read with the other's.
    void finishAfterKilledRun(const std::string& what) {
        tavrinM::SetHistoryPaths();
        const HistoryRead current = ReadHistory();
        ASSERT_TRUE(current.ok) << current.path << ": " << current.reason << ", " << what;
        ASSERT_FALSE(current.pairs.empty()) << what;
        // A run killed before its first rename was whole leaves the earlier
        // run's undo: every file still has its name, whatever a fallback
        // rename cut short left beside it.
        const Contents now = contentsOf(dir);
        if (std::all_of(before.begin(), before.end(), [&now](const auto& file) {
                return now.count(file.first) != 0 && now.at(file.first) == file.second;
            })) {
            EXPECT_EQ(current.pairs[0].folder, utf8(other) + sep()) << "nothing renamed, " << what;
        }
        // Pairs of a batch on record whose renames never happened: the restore
        // must count them as restored.
        for (const auto& pair : current.pairs) {
            ahead += pair.folder == utf8(dir) + sep() && !fs::exists(dir / pair.newName) &&
                     fs::exists(dir / pair.oldName);
        }
        RestoreResult r = restore();
        ASSERT_EQ(r.problem, RestoreResult::Problem::None) << r.reason << ", " << what;
        if (current.pairs[0].folder == utf8(other) + sep()) {
            // The earlier history stands, and only its blocked pair fails.
            ASSERT_EQ(r.failed.size(), 1u) << described(r.failed) << what;
            EXPECT_EQ(r.failed[0].pair.oldName, squatted) << what;
            fs::remove(other / squatted);
            r = restore();
            EXPECT_EQ(contentsOf(other), otherBefore) << what;
        } else {
            // Replaced: each earlier file keeps the name its restore left it.
            fs::remove(other / squatted);
            const Contents now = contentsOf(other);
            EXPECT_EQ(now.size(), otherBefore.size()) << what;
            for (std::size_t i = 0; i < earlier.Files.size(); ++i) {
                const std::string& name = earlier.Files[i];
                const std::string renamed = "photo" + std::to_string(i) + ".jpg";
                const bool right = (now.count(name) && now.at(name) == otherBefore.at(name)) ||
                                   (now.count(renamed) && now.at(renamed) == otherBefore.at(name));
                EXPECT_TRUE(right) << name << ", " << what;
            }
        }
        EXPECT_EQ(described(r.failed), "") << what;
        ASSERT_EQ(contentsOf(dir), before) << what;
        EXPECT_TRUE(entries(prog).empty()) << what;
        filesChecked += static_cast<long>(before.size() + otherBefore.size());
    }

    // A completed run over `dir`, with the old name of one file taken since.
    void ranOverDir(bool squat) {
        freshProgramFolder();
        before = freshFiles(dir, run);
        runInProcess(run);
        if (squat) {
            writeBytes(dir / squatted, "squatter");
        }
    }

    // After restores were killed: finishing brings every name back, and only
    // the squatted pair fails until its cause is gone. In `dir`, or in `other`
    // for the restore of the earlier history.
    void finishAfterKilledRestores(bool squat, const std::string& what, bool inOther = false) {
        const fs::path& folder = inOther ? other : dir;
        const Contents& expected = inOther ? otherBefore : before;
        RestoreResult r = restore();
        ASSERT_EQ(r.problem, RestoreResult::Problem::None) << r.reason << ", " << what;
        if (squat) {
            ASSERT_EQ(r.failed.size(), 1u) << described(r.failed) << what;
            EXPECT_EQ(r.failed[0].pair.oldName, squatted) << what;
            fs::remove(folder / squatted);
            r = restore();
        }
        EXPECT_EQ(described(r.failed), "") << what;
        ASSERT_EQ(contentsOf(folder), expected) << what;
        EXPECT_TRUE(entries(prog).empty()) << what;
        filesChecked += static_cast<long>(expected.size());
    }

    void killAtEveryCall(bool all);

    void report() const {
        std::printf("crash test: %ld kills (%ld in runs, %ld in restores, %ld between the two "
                    "moves of a replacement), %ld pairs on record ahead of their renames, %ld "
                    "files checked, %s\n",
                    kills, runKills, restoreKills, halfMoved, ahead, filesChecked,
                    HasFailure() ? "FAILED" : "0 wrong names");
    }

    fs::path other;
    FixedRunInputs earlier, run;
    std::string squatted; // an old name taken again since its run
    Contents otherBefore, before;
    long kills = 0, runKills = 0, restoreKills = 0, halfMoved = 0, ahead = 0, filesChecked = 0;
};

TEST_F(CrashTest, KilledAtRandomCallsRunsAndRestoresLeaveAHistoryThatRestoresEveryName) {
    const unsigned seed = std::random_device{}();
    std::printf("crash test seed: %u\n", seed);
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 rng(seed);
    const auto pick = [&](long calls) {
        return std::uniform_int_distribution<long>(1, calls)(rng);
    };

    earlier = chainRun(other, 12, 4);
    run = chainRun(dir, 30, 30);
    squatted = "q4.jpg";
    beforeARun();
    const long runCalls = callsOf(runInChild);
    long restoreCalls[2];
    for (const bool squat : {false, true}) {
        ranOverDir(squat);
        restoreCalls[squat] = callsOf(restoreInChild);
    }
    ASSERT_GT(runCalls, 40);

    constexpr int rounds = 40;
    for (int round = 0; round < rounds; ++round) {
        const std::string seedText =
            ", round " + std::to_string(round) + ", seed " + std::to_string(seed);
        // A run over a chain, replacing a history whose restore was stopped.
        beforeARun();
        const long at = pick(runCalls);
        kill(runInChild, at, runKills);
        finishAfterKilledRun("run killed at call " + std::to_string(at) + seedText);

        // A restore of a chain, killed one to three times, then finished.
        const bool squat = round % 2 == 0;
        ranOverDir(squat);
        std::string calls;
        for (int k = std::uniform_int_distribution<int>(1, 3)(rng); k > 0; --k) {
            const long call = pick(restoreCalls[squat]);
            calls += " " + std::to_string(call);
            kill(restoreInChild, call, restoreKills);
        }
        finishAfterKilledRestores(squat, "restores killed at calls" + calls + seedText);
    }
    report();
    EXPECT_GE(runKills, rounds * 3 / 4) << "most kills should land inside the run";
}

// Every call of a small run and a small restore, so that the kills between
// the two moves that put a new history in place are certain; and again with
// each fallback rename, so that every kill inside one is tried: between link
// and unlink, between taking a name and renaming onto it.
TEST_F(CrashTest, KilledAtEveryCallRunsAndRestoresLeaveAHistoryThatRestoresEveryName) {
    using platform::detail::RenameFallback;
    for (const RenameFallback fallback :
         {RenameFallback::None, RenameFallback::Link, RenameFallback::Reservation}) {
        platform::detail::setRenameFallbackForTesting(fallback);
        std::printf("%s renames:\n", fallback == RenameFallback::None   ? "no-replace"
                                     : fallback == RenameFallback::Link ? "link-then-unlink"
                                                                        : "reservation");
        killAtEveryCall(fallback == RenameFallback::None);
        if (HasFailure()) {
            break;
        }
    }
    platform::detail::setRenameFallbackForTesting(RenameFallback::None);
}

// With `all`, also the first run of all and the restore of kept pairs; the
// fallback renames change neither, and their calls are many.
void CrashTest::killAtEveryCall(bool all) {
    kills = runKills = restoreKills = halfMoved = ahead = filesChecked = 0;
    earlier = chainRun(other, 2, 2);
    run = chainRun(dir, all ? 3 : 1, 2);
    squatted = "q2.jpg";
    beforeARun();
    const long runCalls = callsOf(runInChild);
    for (long call = 1; call <= runCalls; ++call) {
        beforeARun();
        kill(runInChild, call, runKills);
        finishAfterKilledRun("run killed at call " + std::to_string(call));
    }
    const long runHalfMoved = halfMoved;
    EXPECT_GE(runHalfMoved, 1);

    // The first run of all: no history before it.
    for (long call = 1; all && call <= runCalls; ++call) {
        freshProgramFolder();
        before = freshFiles(dir, run);
        kill(runInChild, call, runKills);
        const RestoreResult r = restore();
        EXPECT_EQ(r.problem, RestoreResult::Problem::None) << r.reason << ", call " << call;
        EXPECT_EQ(described(r.failed), "") << "first run killed at call " << call;
        ASSERT_EQ(contentsOf(dir), before) << "first run killed at call " << call;
        // Pending files of a run killed before its history counted may stay, unlisted,
        // until the next run or restore drops them.
        EXPECT_FALSE(fs::exists(prog / "Old.ini")) << "first run killed at call " << call;
        filesChecked += static_cast<long>(before.size());
    }

    // A restore of a history a stopped restore left with a kept pair: it folds
    // the kept pair back at its start, and keeps it again at its end.
    beforeARun();
    const long keptCalls = callsOf(restoreInChild);
    for (long call = 1; all && call <= keptCalls; ++call) {
        beforeARun();
        kill(restoreInChild, call, restoreKills);
        finishAfterKilledRestores(
            true, "restore of a kept pair killed at call " + std::to_string(call), true);
    }

    ranOverDir(true);
    const long restoreCalls = callsOf(restoreInChild);
    for (long call = 1; call <= restoreCalls; ++call) {
        ranOverDir(true);
        kill(restoreInChild, call, restoreKills);
        finishAfterKilledRestores(true, "restore killed at call " + std::to_string(call));
    }
    EXPECT_GE(halfMoved - runHalfMoved, 1);
    report();
}

// --- Power cuts -----------------------------------------------------------------

// The file-system changes of a traced child, recorded from its calls into a
// model of the folders, and replayed in part as a power cut leaves them.
class Recording {
public:
    struct Op {
        enum Kind { Create, Write, Truncate, SyncFile, SyncFolder, Rename, Link, Unlink } kind;
        bool user = false; // on the user's disk (else on the program folder's)
        int node = -1;
        std::string path, to, bytes;
        std::uint64_t size = 0;
    };
    static Op op(Op::Kind kind, int node, std::string path, std::string to = {}) {
        return {kind, false, node, std::move(path), std::move(to), {}, 0};
    }
    using Names = std::map<std::string, int>; // path -> node

    Recording(const Names& names, std::vector<std::string> data, std::string prog)
        : names_(names), data_(std::move(data)), prog_(std::move(prog)) {}

    void see(const SystemCall& c) {
        const auto arg = [&c](std::size_t i) { return c.args[i]; };
        // The name at argument i, within the folder of argument i - 1 for the *at calls.
        const bool at = c.nr != SYS_rename && c.nr != SYS_link && c.nr != SYS_unlink;
        const auto path = [&](std::size_t i) {
            return trimmed(at ? childAtPath(c.pid, arg(i - 1), arg(i))
                              : childString(c.pid, arg(i)));
        };
        if (c.nr == SYS_openat && (arg(2) & O_CREAT) != 0) {
            const std::string p = path(1);
            if (!names_.count(p)) {
                data_.emplace_back();
                add(op(Op::Create, static_cast<int>(data_.size()) - 1, p));
            } else if ((arg(2) & O_EXCL) == 0 && (arg(2) & O_TRUNC) != 0) {
                add(op(Op::Truncate, names_.at(p), p));
            }
        } else if (c.nr == SYS_write || c.nr == SYS_ftruncate || c.nr == SYS_fdatasync ||
                   c.nr == SYS_fsync) {
            const std::string p = childFdPath(c.pid, arg(0));
            const bool sync = c.nr == SYS_fdatasync || c.nr == SYS_fsync;
            if (sync && !names_.count(p)) {
                add(op(Op::SyncFolder, -1, p));
            } else if (names_.count(p)) {
                Op change = op(c.nr == SYS_write       ? Op::Write
                               : c.nr == SYS_ftruncate ? Op::Truncate
                                                       : Op::SyncFile,
                               names_.at(p), p);
                if (c.nr == SYS_write) {
                    change.bytes = childBytes(c.pid, arg(1), arg(2));
                }
                change.size = c.nr == SYS_ftruncate ? arg(1) : 0;
                add(change);
            }
        } else if (c.nr == SYS_rename || c.nr == SYS_renameat || c.nr == SYS_renameat2) {
            const std::string from = path(at ? 1 : 0), to = path(at ? 3 : 1);
            const bool noReplace = c.nr == SYS_renameat2 && (arg(4) & RENAME_NOREPLACE) != 0;
            if (names_.count(from) && !(noReplace && names_.count(to))) {
                add(op(Op::Rename, names_.at(from), from, to));
            }
        } else if (c.nr == SYS_link || c.nr == SYS_linkat) {
            const std::string from = path(at ? 1 : 0), to = path(at ? 3 : 1);
            if (names_.count(from) && !names_.count(to)) {
                add(op(Op::Link, names_.at(from), from, to));
            }
        } else if (c.nr == SYS_unlink || c.nr == SYS_unlinkat) {
            const std::string p = path(c.nr == SYS_unlink ? 0 : 1);
            if (names_.count(p)) {
                add(op(Op::Unlink, names_.at(p), p));
            }
        }
    }

    // The names and contents that outlast a cut where `kept(i)` tells which
    // of the recorded changes reached the disk.
    std::map<std::string, std::pair<int, std::string>>
    replay(const Names& start, const std::vector<std::string>& data,
           const std::function<bool(std::size_t)>& kept) const {
        Names names = start;
        std::vector<std::string> contents = data;
        contents.resize(data_.size());
        for (std::size_t i = 0; i < ops.size(); ++i) {
            if (kept(i)) {
                apply(ops[i], names, contents);
            }
        }
        std::map<std::string, std::pair<int, std::string>> out;
        for (const auto& [path, node] : names) {
            out[path] = {node, contents[static_cast<std::size_t>(node)]};
        }
        return out;
    }

    std::vector<Op> ops;

private:
    static std::string trimmed(std::string path) {
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        return path;
    }

    bool onProgramDisk(const std::string& path) const {
        return path == prog_ || path.starts_with(prog_ + "/");
    }

    void add(Op op) {
        op.user = !onProgramDisk(op.path);
        apply(op, names_, data_);
        ops.push_back(std::move(op));
    }

    static void apply(const Op& op, Names& names, std::vector<std::string>& data) {
        std::string* bytes = op.node >= 0 ? &data[static_cast<std::size_t>(op.node)] : nullptr;
        switch (op.kind) {
        case Op::Create:
            names[op.path] = op.node;
            bytes->clear();
            break;
        case Op::Write:
            *bytes += op.bytes; // the history's files are only ever appended to
            break;
        case Op::Truncate:
            bytes->resize(op.size);
            break;
        case Op::Rename:
            names.erase(op.path);
            names[op.to] = op.node;
            break;
        case Op::Link:
            names[op.to] = op.node;
            break;
        case Op::Unlink:
            names.erase(op.path);
            break;
        case Op::SyncFile:
        case Op::SyncFolder:
            break;
        }
    }

    Names names_;
    std::vector<std::string> data_;
    std::string prog_;
};

// A run over a chain replacing an earlier history, then its restore, recorded;
// then every point of a power cut, under four models of what outlasts it:
// - one disk that keeps its order: every change made before the cut;
// - two disks that keep no order between them: on each disk, every change up
//   to its last sync or up to the cut, in each mixture;
// - one disk that loses data written without a sync: every change of names
//   and sizes, but no write not made durable by a later sync of its file;
// - one disk that keeps no order at all (ext2, FAT): as the third, and also
//   without any one change to the program's files that no sync made durable.
//   Here the old name of one file is taken after the run, and the restore
//   cuts each pair off on its own, so that it keeps a pair in a batch alone.
// Each state is then restored: every file gets its old name and content, or a
// failure is reported and no file has a name it never had; "restored" only
// when every file is right; and while nothing of the run is left, the
// earlier run's undo is. Once the taken name is free again, a second restore
// brings every file back: no state leaves a history that fails for ever.
TEST_F(CrashTest, PowerCutsAtEveryPointLeaveAHistoryThatNeverRenamesWrongly) {
    earlier = chainRun(other, 2, 2);
    run = chainRun(dir, 6, 5);
    squatted = run.Files.back();
    setBatchLimitForTesting(3);
    long states[4] = {}, failuresReported[4] = {};
    for (const int model : {0, 1, 2, 3}) {
        platform::setOrderKeptForTesting(model == 1 || model == 3 ? 0 : 1);
        setRestoreBatchLimitForTesting(model == 3 ? 1 : 0);
        freshProgramFolder();
        otherBefore = freshFiles(other, earlier);
        runInProcess(earlier);
        const Contents otherAfter = contentsOf(other);
        before = freshFiles(dir, run);
        // The starting point, as nodes.
        Recording::Names names;
        std::vector<std::string> data;
        for (const fs::path& folder : {dir, other, prog}) {
            for (const auto& [name, bytes] : contentsOf(folder)) {
                names[utf8(folder) + "/" + name] = static_cast<int>(data.size());
                data.push_back(bytes);
            }
        }
        Recording rec(names, data, utf8(prog));
        const TraceResult r = traceCalls(
            [this, model] {
                RecordingActions act;
                RenameRun(run, act);
                if (model == 3) {
                    writeBytes(dir / squatted, "squatter");
                }
                restore();
            },
            [&](const SystemCall& c) {
                rec.see(c);
                return Verdict{};
            });
        ASSERT_TRUE(r.traced);
        const auto& ops = rec.ops;
        ASSERT_GT(ops.size(), 50u);
        // Where the old name is taken: from there on, as the user's changes
        // are all kept up to the cut, every state has the file that took it.
        std::size_t squatAt = 0;
        while (squatAt < ops.size() && !(ops[squatAt].kind == Recording::Op::Create &&
                                         ops[squatAt].path == utf8(dir / squatted))) {
            ++squatAt;
        }
        const std::size_t firstRename = static_cast<std::size_t>(
            std::find_if(ops.begin(), ops.end(),
                         [](const Recording::Op& op) {
                             return op.kind == Recording::Op::Rename && op.user;
                         }) -
            ops.begin());

        for (std::size_t cut = 0; cut <= ops.size(); ++cut) {
            std::vector<std::function<bool(std::size_t)>> cuts;
            if (model == 0) {
                cuts.push_back([cut](std::size_t i) { return i < cut; });
            } else if (model == 1) {
                std::size_t synced[2] = {0, 0}; // user, program: changes up to the last sync
                for (std::size_t i = 0; i < cut; ++i) {
                    if (ops[i].kind == Recording::Op::SyncFile ||
                        ops[i].kind == Recording::Op::SyncFolder) {
                        synced[ops[i].user ? 0 : 1] = i + 1;
                    }
                }
                for (const auto& [user, program] :
                     {std::pair{synced[0], cut}, {cut, synced[1]}, {synced[0], synced[1]}}) {
                    cuts.push_back([&ops, user, program](std::size_t i) {
                        return i < (ops[i].user ? user : program);
                    });
                }
            } else {
                // Made durable before the cut: data and sizes by a sync of
                // their file, names by a sync of their folder.
                const auto durable = [&ops, cut](std::size_t i) {
                    using K = Recording::Op::Kind;
                    const bool data = ops[i].kind == K::Write || ops[i].kind == K::Truncate;
                    for (std::size_t k = i + 1; k < cut; ++k) {
                        if (data ? ops[k].kind == K::SyncFile && ops[k].node == ops[i].node
                                 : ops[k].kind == K::SyncFolder && ops[k].user == ops[i].user) {
                            return true;
                        }
                    }
                    return false;
                };
                const auto unsyncedDataLost = [&ops, cut, durable](std::size_t i) {
                    return i < cut && (ops[i].kind != Recording::Op::Write || durable(i));
                };
                cuts.push_back(unsyncedDataLost);
                for (std::size_t j = 0; model == 3 && j < cut; ++j) {
                    const auto kind = ops[j].kind;
                    if (!ops[j].user && kind != Recording::Op::Write &&
                        kind != Recording::Op::SyncFile && kind != Recording::Op::SyncFolder &&
                        !durable(j)) {
                        cuts.push_back([unsyncedDataLost, j](std::size_t i) {
                            return i != j && unsyncedDataLost(i);
                        });
                    }
                }
            }
            for (const auto& kept : cuts) {
                const auto state = rec.replay(names, data, kept);
                for (const fs::path& folder : {dir, other, prog}) {
                    fs::remove_all(folder);
                    fs::create_directory(folder);
                }
                std::map<int, std::string> made;
                for (const auto& [path, file] : state) {
                    if (made.count(file.first)) {
                        fs::create_hard_link(made.at(file.first), path);
                    } else {
                        writeBytes(path, file.second);
                        made[file.first] = path;
                    }
                }
                const bool nothingOfTheRun = firstRename == ops.size() || !kept(firstRename);
                const std::string what = "model " + std::to_string(model) + ", cut before change " +
                                         std::to_string(cut) + " of " + std::to_string(ops.size()) +
                                         ", state " + std::to_string(&kept - cuts.data());
                ++states[model];
                const bool squatter = cut > squatAt;
                const RestoreResult result = restore();
                const Contents now = contentsOf(dir);
                // No content lost, and none under a name it never had.
                for (std::size_t i = 0; i < run.Files.size(); ++i) {
                    const std::string& name = run.Files[i];
                    const std::string renamed = "photo" + std::to_string(i) + ".jpg";
                    const bool right = (now.count(name) && now.at(name) == before.at(name)) ||
                                       (now.count(renamed) && now.at(renamed) == before.at(name));
                    EXPECT_TRUE(right) << name << ", " << what;
                }
                EXPECT_EQ(now.size(), before.size() + (squatter ? 1 : 0)) << what;
                const bool reportedRestored =
                    result.problem == RestoreResult::Problem::None && result.failed.empty();
                if (reportedRestored) {
                    EXPECT_EQ(now, before) << "restored, but " << what;
                } else {
                    ++failuresReported[model];
                }
                if (nothingOfTheRun) {
                    EXPECT_EQ(contentsOf(other), otherBefore) << "earlier undo lost, " << what;
                } else {
                    const Contents o = contentsOf(other);
                    EXPECT_TRUE(o == otherBefore || o == otherAfter) << what;
                }
                if (squatter) {
                    fs::remove(dir / squatted);
                }
                const RestoreResult finished = restore();
                EXPECT_EQ(finished.problem, RestoreResult::Problem::None)
                    << finished.path << ": " << finished.reason << ", " << what;
                EXPECT_EQ(described(finished.failed), "") << what;
                EXPECT_EQ(contentsOf(dir), before)
                    << "not all back after a second restore, " << what;
                filesChecked += static_cast<long>(before.size() + otherBefore.size());
                if (HasFailure()) {
                    break;
                }
            }
            if (HasFailure()) {
                break;
            }
        }
    }
    platform::setOrderKeptForTesting(-1);
    setBatchLimitForTesting(0);
    setRestoreBatchLimitForTesting(0);
    std::printf("power-cut test: states (failures reported): %ld (%ld) in order on one disk, "
                "%ld (%ld) on two disks, %ld (%ld) with unsynced data lost, %ld (%ld) on a disk "
                "without order; %ld files checked, %s\n",
                states[0], failuresReported[0], states[1], failuresReported[1], states[2],
                failuresReported[2], states[3], failuresReported[3], filesChecked,
                HasFailure() ? "FAILED" : "0 wrong names, all back after a second restore");
}

} // namespace
