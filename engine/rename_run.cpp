#include "engine/rename_run.h"
#include "engine/history.h"
#include "engine/history_files.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/name_hashes.h"
#include "platform/random.h"
#include "platform/unicode.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <iterator>
#include <optional>

namespace tavrin {

namespace {

using Clock = std::chrono::steady_clock;

const char* const msgBothOptions = "オプション 変更はどちらか一方のみ選択可能です";
const char* const msgNoBaseName = "ファイル名を入力してください";
const char* const msgNoExtension = "変更する拡張子を入力してください";
const char* const msgUnsafeName = "ファイル名に使用できない文字が含まれています";
const char* const msgTooLong = "新しいファイル名が長すぎます";
const char* const msgClash = "既に同名のファイルが存在します、ファイル名を変更してください。";
const char* const msgDone = "変更完了";

void show(const std::string& text) {
    tavrinM::MsgText = text;
    tavrinM::ShowMsg();
}

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// A part of a new name must not reach into another folder or hold a control character.
bool isSafeNamePart(std::string_view text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '/' || c == '\\' || isControl(c)) {
            return false;
        }
    }
    return true;
}

// Text the history can hold and give back unchanged.
bool isRecordable(std::string_view text) {
    std::string bytes;
    return platform::historyCodePage().encode(text, bytes);
}

// A new name the run may give: one entry of the folder, no control character,
// and not one that a leading "." would hide from every list.
bool isUsableNewName(std::string_view name) {
    return isUsableName(name) && !(platform::hidesLeadingDot() && name.front() == '.');
}

// The old name up to and including its first "." (empty when it has none).
std::string_view throughFirstDot(std::string_view name) {
    const auto dot = name.find('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(0, dot + 1);
}

// The old name up to and including its first ".", then the new extension,
// into `out`; sets DotPos to where that "." is.
void extensionOnlyName(const std::string& oldName, const std::string& ext, std::string& out) {
    const std::string_view kept = throughFirstDot(oldName);
    tavrinM::DotPos = static_cast<long>(platform::codePointCount(kept));
    out.assign(kept).append(ext);
}

// The base name, the number in plain digits, ".", then the extension, into `out`.
void numberedName(const std::string& base, long number, const std::string& ext, std::string& out) {
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), number).ptr;
    out.assign(base).append(digits, end).append(1, '.').append(ext);
}

// The folder as the history records it: with one trailing separator.
std::string folderPathOf(const RunInputs& in) {
    std::string folder = in.folder();
    if (folder.empty() || folder.back() != platform::separator()) {
        folder += platform::separator();
    }
    return folder;
}

enum class NameCheck { Fine, Unusable, TooLong };

// The names an extension-only run would give, checked before anything is touched.
NameCheck checkExtensionOnlyNames(const RunInputs& in, const std::string& ext, long maxLength) {
    const long count = in.fileCount();
    NameCheck result = NameCheck::Fine;
    std::string composed; // reused: a folder may hold 100,000 files
    for (long i = 0; i < count; ++i) {
        const std::string name = in.fileName(i);
        composed.assign(throughFirstDot(name)).append(ext);
        if (!isUsableNewName(composed)) {
            return NameCheck::Unusable;
        }
        if (platform::nameLength(composed) > maxLength) {
            result = NameCheck::TooLong;
        }
    }
    return result;
}

// The longest name a numbered run gives: the base name, the widest number, the extension.
bool numberedNamesTooLong(const RunInputs& in, const std::string& base, const std::string& ext,
                          long maxLength) {
    const long count = in.fileCount();
    const std::string widest =
        in.randomNumber() ? "9999" : std::to_string(count > 0 ? count - 1 : 0);
    return platform::nameLength(base + widest + "." + ext) > maxLength;
}

// The refusals, in their order; true when the run may go on.
bool checksPass(const RunInputs& in, RunActions& act) {
    const bool kaC = in.nameAndExtension();
    const bool kacC = in.extensionOnly();
    if (kaC && kacC) {
        show(msgBothOptions);
        act.showOptionsTab1();
        return false;
    }
    const std::string base = in.baseName();
    if (base.empty() && !kacC) {
        show(msgNoBaseName);
        act.focusBaseName();
        return false;
    }
    const std::string ext = in.newExtension();
    if (ext.empty() && (kaC || kacC)) {
        show(msgNoExtension);
        act.focusNewExtension();
        return false;
    }
    // Everything else that can be known before the history is touched: names the
    // history can hold, inside the folder and visible, that the file system takes.
    const bool hidden = platform::hidesLeadingDot() && !base.empty() && base.front() == '.';
    if (!kacC && (!isSafeNamePart(base) || !isRecordable(base) || hidden)) {
        show(msgUnsafeName);
        act.focusBaseName();
        return false;
    }
    const std::string folder = folderPathOf(in);
    const long maxLength = platform::maxNameLength(folder);
    const NameCheck extOnly = kacC ? checkExtensionOnlyNames(in, ext, maxLength) : NameCheck::Fine;
    if ((kaC || kacC) &&
        (!isSafeNamePart(ext) || !isRecordable(ext) || extOnly == NameCheck::Unusable)) {
        show(msgUnsafeName);
        act.focusNewExtension();
        return false;
    }
    // A control character in the folder line marks a damaged history.
    if (!platform::isAbsoluteFolder(folder) || !isRecordable(folder) ||
        std::any_of(folder.begin(), folder.end(),
                    [](char c) { return isControl(static_cast<unsigned char>(c)); })) {
        show("このフォルダーの名前は変更履歴に記録できません：" + folder);
        return false;
    }
    if (extOnly == NameCheck::TooLong) {
        show(msgTooLong);
        act.focusNewExtension();
        return false;
    }
    if (!kacC && numberedNamesTooLong(in, base, kaC ? ext : in.selectedExtension(), maxLength)) {
        show(msgTooLong);
        act.focusBaseName();
        return false;
    }
    return true;
}

// The new name of file `index`, by the options as they stand now, into
// `out`. Sets OldName, NameNum and RndNum (a random number drawn) and, for an
// extension-only name, DotPos.
void composeName(const RunInputs& in, long index, std::string& out) {
    using namespace tavrinM;
    const bool kaC = in.nameAndExtension();
    const bool kacC = in.extensionOnly();
    if (in.randomNumber() && !kacC) {
        RndNum = static_cast<long>(platform::random::nextFraction() * 9999 + 1);
        NameNum = RndNum;
    } else {
        NameNum = index;
    }
    OldName = in.fileName(index);
    if (kaC && !kacC) {
        numberedName(BaseName, NameNum, in.newExtension(), out);
    } else if (kacC && !kaC) {
        extensionOnlyName(OldName, in.newExtension(), out);
    } else {
        numberedName(BaseName, NameNum, in.selectedExtension(), out);
    }
}

std::string stoppedMessage(const std::string& oldName, const std::string& reason, bool anyRenamed) {
    if (!anyRenamed) {
        return "変更を中止しました：" + oldName + "\n" + reason;
    }
    return "変更を中断しました：" + oldName + "\n" + reason + "\n" +
           "途中までの変更は復元で元に戻せます。";
}

void completedEnding(const RunInputs& in, RunActions& act, const std::string& message) {
    if (in.nameAndExtension() || in.extensionOnly()) {
        act.replaceExtensionList(in.newExtension());
    }
    show(message);
    act.selectFirstExtension();
    act.setProgressValue(0);
    act.clearTextBoxes();
    tavrinM::ResetState();
    act.refreshFileList();
}

struct Failure {
    bool failed = false;
    bool clash = false;
    std::string reason;
};

std::string historyFailure(const std::string& path, const platform::Status& s) {
    return "変更履歴を書き込めません：" + path + "\n" + s.reason;
}

// How long a batch is composed before its pairs are made durable and its files
// renamed: about one frame, so the window answers and an option changed during
// the run reaches the files of the next batch. Every batch costs a sync of each
// history file, so a batch is as long as that frame allows, up to a bound on
// the memory its names take. Its renames are changes the folder's lookups
// take in, a part at a time while they are made, so that they stay cheap.
constexpr auto batchTime = std::chrono::milliseconds(16);
constexpr long batchFiles = 65536;
constexpr long renamesBetweenRefreshes = platform::FolderEntries::changesBetweenRefreshes / 2;
constexpr std::size_t renamesBetweenLooks = 64; // at the folder's path
long batchLimit = 0;                            // test-only: files per batch instead of the time
RunFigures figures;

// A file of a batch: where its names are in the batch, its numbers as they
// were composed, and where its pair begins in the history.
struct Planned {
    long index = 0;
    std::size_t oldAt = 0, oldSize = 0, newSize = 0;
    long nameNum = 0, rndNum = 0, dotPos = 0;
    history::NewHistory::Place place;
};

// The files of a batch, their names in one buffer that keeps its room from
// batch to batch, so that the run allocates nothing of its own per file.
struct Batch {
    std::vector<Planned> files;
    std::string names; // each file's old name, then its new name
    // The file after the last one cannot be recorded: the run stops there.
    bool stops = false;
    std::string stopName;
    Failure stop;

    std::string_view oldName(const Planned& file) const {
        return std::string_view(names).substr(file.oldAt, file.oldSize);
    }
    std::string_view newName(const Planned& file) const {
        return std::string_view(names).substr(file.oldAt + file.oldSize, file.newSize);
    }

    void add(Planned file, std::string_view oldName, std::string_view newName) {
        file.oldAt = names.size();
        file.oldSize = oldName.size();
        file.newSize = newName.size();
        names.append(oldName).append(newName);
        files.push_back(file);
    }

    void clear() {
        files.clear();
        names.clear();
        stops = false;
        stopName.clear();
        stop = {};
    }
};

// Composes the run's files batch by batch, in list order, and queues their
// pairs. Only pairs whose new names are free go on record ahead of their
// renames: a batch ends before a file whose new name is taken, by an entry of
// the folder or by an earlier file of the batch, and that file starts the
// next batch, once the renames before it have freed the name or not. A file
// whose new name is still taken there is never recorded: the run stops at it
// with the clash. So a pair whose rename never happened (a process killed, a
// power cut) names a file that still has its old name, and a new name
// nothing has.
class Composer {
public:
    Composer(const RunInputs& in, history::NewHistory& history)
        : in_(in), history_(history), count_(in.fileCount()), folder_(tavrinM::FolderPath) {}

    // Takes in the changes of the folder while a batch is renamed.
    void takeInChanges() { folder_.refresh(); }
    bool watching() const { return folder_.watching(); }

    void next(Batch& batch) {
        batch.clear();
        claimed_.clear();
        folder_.refresh(); // the folder as it stands when the batch is composed
        const auto start = Clock::now();
        for (;;) {
            // The file's names are in OldName and newName_.
            Planned file;
            if (carried_) {
                file = *carried_;
                tavrinM::OldName = carriedOld_;
                newName_ = carriedNew_;
                carried_.reset();
            } else if (next_ < count_) {
                if (!compose(next_++, file, batch)) {
                    break;
                }
            } else {
                break;
            }
            const std::string& oldName = tavrinM::OldName;
            const std::uint64_t key = platform::foldedKeyHash(newName_);
            if (taken(key, newName_)) {
                if (batch.files.empty()) {
                    stopIfTaken(batch, oldName, newName_);
                }
                if (batch.stops) {
                    break;
                }
                if (!batch.files.empty()) {
                    carried_ = file;
                    carriedOld_ = oldName;
                    carriedNew_ = newName_;
                    break;
                }
            }
            file.place = history_.end();
            if (auto s = history_.add(oldName, newName_); !s.ok()) {
                stopAt(batch, oldName, {true, false, s.reason});
                break;
            }
            claimed_.insert(key);
            batch.add(file, oldName, newName_);
            const long size = static_cast<long>(batch.files.size());
            // The clock is read every sixteen files: reading it costs a good part of
            // composing one.
            const bool full =
                batchLimit > 0
                    ? size >= batchLimit
                    : size >= batchFiles || (size % 16 == 0 && Clock::now() - start >= batchTime);
            if (full) {
                break;
            }
        }
    }

private:
    // Composes file `index` by the options as they stand now; false when its
    // names cannot be used.
    bool compose(long index, Planned& file, Batch& batch) {
        using namespace tavrinM;
        file.index = index;
        composeName(in_, index, newName_);
        file.nameNum = NameNum;
        file.rndNum = RndNum;
        file.dotPos = DotPos;
        if (!isUsableName(OldName) || !isUsableNewName(newName_)) {
            stopAt(batch, OldName, {true, false, msgUnsafeName});
            return false;
        }
        return true;
    }

    // The first file of a batch whose new name looked taken: the folder is
    // asked again, and the run stops there unless the name is free after all.
    static void stopIfTaken(Batch& batch, const std::string& oldName, const std::string& newName) {
        platform::Status error;
        const bool isTaken = platform::entryExists(tavrinM::FolderPath + newName, &error);
        if (!error.ok()) {
            stopAt(batch, oldName, {true, false, error.reason});
        } else if (isTaken) {
            stopAt(batch, oldName, {true, true, {}});
        }
    }

    static void stopAt(Batch& batch, const std::string& oldName, Failure why) {
        batch.stops = true;
        batch.stopName = oldName;
        batch.stop = std::move(why);
    }

    // Letter case counts for nothing among the batch's own names (`key` is the
    // new name folded), as on the case-insensitive file systems: that ends a
    // batch more often, never less. Two names whose keys share a hash end it
    // too, which costs the next batch's sync and nothing else.
    bool taken(std::uint64_t key, const std::string& newName) const {
        if (claimed_.contains(key)) {
            return true;
        }
        platform::Status error;
        return folder_.contains(newName, &error) || !error.ok();
    }

    const RunInputs& in_;
    history::NewHistory& history_;
    const long count_;
    long next_ = 0;
    platform::FolderEntries folder_;
    std::string newName_; // the new name of the file in hand
    std::optional<Planned> carried_;
    std::string carriedOld_, carriedNew_;
    platform::detail::NameHashes claimed_;
};

// The file in hand: sets ListIdx, OldName, NewName, NameNum, RndNum and
// DotPos to what they were when the file was composed.
void takeUp(const Batch& batch, const Planned& file) {
    using namespace tavrinM;
    ListIdx = file.index;
    OldName.assign(batch.oldName(file));
    NewName.assign(batch.newName(file));
    NameNum = file.nameNum;
    RndNum = file.rndNum;
    DotPos = file.dotPos;
}

// One run, from its lock to its ending, in the steps RenameRun takes.
class Run {
public:
    Run(const RunInputs& in, RunActions& act) : in_(in), act_(act) {}

    // Sets BaseName, FolderPath, OldIniPath and NewIniPath, takes the lock and
    // starts the new history; false (the message shown) when it cannot.
    bool start() {
        using namespace tavrinM;
        ResetState();
        BaseName = in_.baseName();
        act_.setProgressRange(0, in_.fileCount());
        FolderPath = folderPathOf(in_);
        platform::random::seedFromClock();
        SetHistoryPaths();
        figures = {};
        syncsBefore_ = history::syncFigures();
        // One process at a time: a second one finds the history locked and touches nothing.
        std::string failedPath = OldIniPath;
        platform::Status started = lock_.acquire(platform::historyFolder());
        if (started.ok()) {
            started = history_.start(FolderPath, failedPath);
        }
        if (!started.ok()) {
            history_.close();
            show("変更履歴を書き込めないため、変更を中止しました：" + failedPath + "\n" +
                 started.reason);
            act_.setProgressValue(0);
            ResetState();
            return false;
        }
        held_.emplace(FolderPath);
        composer_.emplace(in_, history_);
        return true;
    }

    // Composes the next batch; on the way sets OldName, NameNum, RndNum and
    // DotPos (composeName). The renames so far are made durable first where
    // the folder needs it, since the batch may take names they freed.
    void compose(Batch& batch) {
        std::string failedPath;
        if (auto s = folders_.makeDurable(failedPath); !s.ok()) {
            batch.clear();
            batch.stops = true;
            batch.stopName = tavrinM::OldName;
            batch.stop = {true, false, failedPath + "\n" + s.reason};
            return;
        }
        composer_->next(batch);
    }

    // Writes the batch's pairs and makes them durable; on a failure, takes
    // them back. Sets OldName to the first file's old name when it fails.
    Failure makeDurable(const Batch& batch) {
        if (batch.files.empty()) {
            return {};
        }
        ++figures.batches;
        std::string failedPath;
        if (auto s = history_.makeDurable(failedPath); !s.ok()) {
            tavrinM::OldName = batch.oldName(batch.files.front());
            cutBack(batch.files.front().place);
            return {true, false, historyFailure(failedPath, s)};
        }
        return {};
    }

    // Renames the batch's files one by one, yielding after each; the file in
    // hand is taken up (takeUp). False when the program is ending.
    bool rename(const Batch& batch, Failure& failure) {
        for (std::size_t k = 0; k < batch.files.size(); ++k) {
            const bool last = k + 1 == batch.files.size();
            const history::NewHistory::Place after =
                last ? history_.end() : batch.files[k + 1].place;
            takeUp(batch, batch.files[k]);
            // The files are renamed within the folder held, which is looked
            // for at its path now and then: a folder moved or replaced during
            // the run ends it, as the history names the folder by its path.
            platform::Status s =
                k % renamesBetweenLooks == 0 ? held_->stillAt() : platform::Status::success();
            if (s.ok()) {
                s = tavrinM::RenameOne(&*held_);
            }
            if (!s.ok()) {
                failure = {true, s.targetExists(), s.reason};
                cutBack(batch.files[k].place);
                return true;
            }
            folders_.renamedIn(tavrinM::FolderPath);
            if (++renamed_ % renamesBetweenRefreshes == 0) {
                composer_->takeInChanges();
            }
            if (renamed_ == 1) {
                // The earlier history goes only once this rename would survive a power cut.
                std::string failedPath;
                platform::Status s = folders_.makeDurable(failedPath);
                if (s.ok()) {
                    s = history_.replaceOld(failedPath);
                }
                if (!s.ok()) {
                    failure = {true, false, historyFailure(failedPath, s)};
                    cutBack(after);
                    return true;
                }
            }
            if (!act_.yieldToEvents()) {
                cutBack(after);
                endHistory();
                return false;
            }
            act_.setProgressValue(tavrinM::ListIdx + 1);
        }
        return true;
    }

    // Ends the run after a batch that failed or stopped; shows what happened.
    RunEnding stop(const Batch& batch, Failure failure) {
        if (renamed_ == 0) {
            history_.drop(); // before any message: the history is as the run found it
        }
        if (!failure.failed) {
            tavrinM::OldName = batch.stopName;
            failure = batch.stop;
        }
        if (failure.clash) {
            show(msgClash);
            act_.focusBaseName();
            act_.setProgressValue(0);
            endHistory();
            if (renamed_ > 0) { // nothing to take back otherwise
                act_.startRestore();
            }
            return RunEnding::NameClash;
        }
        std::string message = stoppedMessage(tavrinM::OldName, failure.reason, renamed_ > 0);
        if (!cutFailure_.empty()) {
            // The history may name renames that did not happen: no promise of an undo.
            message = "変更を中断しました：" + tavrinM::OldName + "\n" + failure.reason + "\n" +
                      cutFailure_;
        }
        endHistory();
        completedEnding(in_, act_, message);
        return RunEnding::Stopped;
    }

    RunEnding complete() {
        endHistory();
        completedEnding(in_, act_, msgDone);
        return RunEnding::Completed;
    }

private:
    // Before anything else happens, the history again names exactly the files
    // renamed: the pairs from `place` on are cut off. Until a file is renamed
    // the new history is pending, and goes, so a run that renames nothing
    // leaves the history it found.
    void cutBack(const history::NewHistory::Place& place) {
        if (renamed_ == 0) {
            history_.drop();
            return;
        }
        std::string failedPath;
        if (auto s = history_.cutBack(place, failedPath); !s.ok()) {
            cutFailure_ = historyFailure(failedPath, s);
        }
    }

    void endHistory() {
        if (renamed_ == 0) {
            history_.drop();
        }
        history_.close();
        lock_.release();
        const history::SyncFigures syncs = history::syncFigures();
        figures.fileSyncs = syncs.files - syncsBefore_.files;
        figures.userFolderSyncs = syncs.userFolders - syncsBefore_.userFolders;
        figures.folderSyncs = syncs.folders - syncsBefore_.folders - figures.userFolderSyncs;
        figures.syncSeconds = syncs.seconds - syncsBefore_.seconds;
        figures.namesWatched = composer_ && composer_->watching();
    }

    const RunInputs& in_;
    RunActions& act_;
    platform::FolderLock lock_;
    history::NewHistory history_;
    history::UserFolders folders_;
    std::optional<platform::HeldFolder> held_;
    std::optional<Composer> composer_;
    history::SyncFigures syncsBefore_;
    long renamed_ = 0;
    std::string cutFailure_;
};

} // namespace

RunEnding RenameRun(const RunInputs& in, RunActions& act) {
    if (!checksPass(in, act)) {
        return RunEnding::Refused;
    }
    Run run(in, act);
    if (!run.start()) {
        return RunEnding::HistoryFailed;
    }
    Batch batch;
    for (;;) {
        run.compose(batch);
        if (batch.files.empty() && !batch.stops) {
            return run.complete();
        }
        Failure failure = run.makeDurable(batch);
        if (!failure.failed && !run.rename(batch, failure)) {
            return RunEnding::Ended;
        }
        if (failure.failed || batch.stops) {
            return run.stop(batch, failure);
        }
    }
}

const RunFigures& lastRunFigures() {
    return figures;
}

void setBatchLimitForTesting(long files) {
    batchLimit = files;
}

} // namespace tavrin
