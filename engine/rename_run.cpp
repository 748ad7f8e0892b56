#include "engine/rename_run.h"
#include "engine/history.h"
#include "engine/history_files.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/random.h"
#include "platform/unicode.h"

#include <chrono>
#include <optional>
#include <unordered_set>

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
std::string throughFirstDot(const std::string& name) {
    const auto dot = name.find('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot + 1);
}

// The old name up to and including its first ".", then the new extension.
std::string extensionOnlyName(const std::string& oldName, const std::string& ext) {
    const std::string kept = throughFirstDot(oldName);
    tavrinM::DotPos = static_cast<long>(platform::codePointCount(kept));
    return kept + ext;
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
    for (long i = 0; i < count; ++i) {
        const std::string composed = throughFirstDot(in.fileName(i)) + ext;
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
    if (!platform::isAbsoluteFolder(folder) || !isRecordable(folder) ||
        folder.find_first_of("\r\n") != std::string::npos) {
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

// The new name of file `index`, by the options as they stand now.
std::string composeName(const RunInputs& in, long index) {
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
        return BaseName + std::to_string(NameNum) + "." + in.newExtension();
    }
    if (kacC && !kaC) {
        return extensionOnlyName(OldName, in.newExtension());
    }
    return BaseName + std::to_string(NameNum) + "." + in.selectedExtension();
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
// the run reaches the files of the next batch. Its renames are changes the
// folder's lookups take in before the next batch, so it holds no more files
// than they take in cheaply.
constexpr auto batchTime = std::chrono::milliseconds(16);
constexpr long batchFiles = platform::FolderEntries::changesBetweenRefreshes;
long batchLimit = 0; // test-only: files per batch instead of the time
RunFigures figures;

// A file of a batch: its names and numbers as they were composed, and where
// its pair begins in the history.
struct Planned {
    long index = 0;
    std::string oldName, newName;
    long nameNum = 0, rndNum = 0, dotPos = 0;
    history::NewHistory::Place place;
};

struct Batch {
    std::vector<Planned> files;
    // The file after the last one cannot be recorded: the run stops there.
    bool stops = false;
    std::string stopName;
    Failure stop;
};

// Composes the run's files batch by batch, in list order, and queues their
// pairs. Only pairs whose new names are free go on record ahead of their
// renames: a batch ends before a file whose new name is taken, by an entry of
// the folder or by an earlier file of the batch, and that file is recorded
// and tried on its own. So a pair whose rename never happened (a process
// killed, a power cut) names a file that still has its old name, and a new
// name nothing has.
class Composer {
public:
    Composer(const RunInputs& in, history::NewHistory& history)
        : in_(in), history_(history), count_(in.fileCount()), folder_(tavrinM::FolderPath) {}

    Batch next() {
        Batch batch;
        claimed_.clear();
        folder_.refresh(); // the folder as it stands when the batch is composed
        const auto start = Clock::now();
        for (;;) {
            Planned file;
            if (carried_) {
                file = std::move(*carried_);
                carried_.reset();
            } else if (next_ < count_) {
                if (!compose(next_++, file, batch)) {
                    break;
                }
            } else {
                break;
            }
            std::string key = platform::foldedKey(file.newName);
            const bool isTaken = taken(key, file.newName);
            if (isTaken && !batch.files.empty()) {
                carried_ = std::move(file);
                break;
            }
            file.place = history_.end();
            if (auto s = history_.add(file.oldName, file.newName); !s.ok()) {
                stopAt(batch, file.oldName, {true, false, s.reason});
                break;
            }
            claimed_.insert(std::move(key));
            batch.files.push_back(std::move(file));
            const long size = static_cast<long>(batch.files.size());
            const bool full = batchLimit > 0
                                  ? size >= batchLimit
                                  : size >= batchFiles || Clock::now() - start >= batchTime;
            if (isTaken || full) {
                break;
            }
        }
        return batch;
    }

private:
    // Composes file `index` by the options as they stand now; false when its
    // names cannot be used.
    bool compose(long index, Planned& file, Batch& batch) {
        using namespace tavrinM;
        file.index = index;
        file.newName = composeName(in_, index);
        file.oldName = OldName;
        file.nameNum = NameNum;
        file.rndNum = RndNum;
        file.dotPos = DotPos;
        if (!isUsableName(file.oldName) || !isUsableNewName(file.newName)) {
            stopAt(batch, file.oldName, {true, false, msgUnsafeName});
            return false;
        }
        return true;
    }

    static void stopAt(Batch& batch, const std::string& oldName, Failure why) {
        batch.stops = true;
        batch.stopName = oldName;
        batch.stop = std::move(why);
    }

    // Letter case counts for nothing among the batch's own names (`key` is the
    // new name folded), as on the case-insensitive file systems: that ends a
    // batch more often, never less.
    bool taken(const std::string& key, const std::string& newName) const {
        if (claimed_.count(key) != 0) {
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
    std::optional<Planned> carried_;
    std::unordered_set<std::string> claimed_;
};

// The file in hand: the shared state as it was when the file was composed.
void takeUp(const Planned& file) {
    using namespace tavrinM;
    ListIdx = file.index;
    OldName = file.oldName;
    NewName = file.newName;
    NameNum = file.nameNum;
    RndNum = file.rndNum;
    DotPos = file.dotPos;
}

} // namespace

RunEnding RenameRun(const RunInputs& in, RunActions& act) {
    using namespace tavrinM;
    if (!checksPass(in, act)) {
        return RunEnding::Refused;
    }

    ResetState();
    BaseName = in.baseName();
    const long count = in.fileCount();
    act.setProgressRange(0, count);
    FolderPath = folderPathOf(in);
    platform::random::seedFromClock();
    SetHistoryPaths();

    figures = {};
    const history::SyncFigures syncsBefore = history::syncFigures();
    // One process at a time: a second one finds the history locked and touches nothing.
    platform::FolderLock lock;
    history::NewHistory history;
    std::string failedPath = OldIniPath;
    platform::Status started = lock.acquire(platform::historyFolder());
    if (started.ok()) {
        started = history.start(FolderPath, failedPath);
    }
    if (!started.ok()) {
        history.close();
        show("変更履歴を書き込めないため、変更を中止しました：" + failedPath + "\n" +
             started.reason);
        act.setProgressValue(0);
        ResetState();
        return RunEnding::HistoryFailed;
    }

    long renamed = 0;
    // Before anything else happens, the history again names exactly the files
    // renamed: the pairs from `place` on are cut off. Until a file is renamed
    // the new history is pending, and goes, so a run that renames nothing leaves
    // the history it found. Should a cut fail, the pairs it leaves name files
    // that still have their old names, which a restore counts as restored.
    const auto cutBack = [&](const history::NewHistory::Place& place) {
        std::string ignored;
        if (renamed == 0) {
            history.drop();
        } else {
            history.cutBack(place, ignored);
        }
    };
    const auto endHistory = [&] {
        if (renamed == 0) {
            history.drop();
        }
        history.close();
        lock.release();
        const history::SyncFigures syncs = history::syncFigures();
        figures.fileSyncs = syncs.files - syncsBefore.files;
        figures.folderSyncs = syncs.folders - syncsBefore.folders;
        figures.syncSeconds = syncs.seconds - syncsBefore.seconds;
    };

    Composer composer(in, history);
    for (;;) {
        const Batch batch = composer.next();
        if (batch.files.empty() && !batch.stops) {
            break;
        }
        Failure failure;
        if (!batch.files.empty()) {
            ++figures.batches;
            if (auto s = history.makeDurable(failedPath); !s.ok()) {
                OldName = batch.files.front().oldName;
                failure = {true, false, historyFailure(failedPath, s)};
                cutBack(batch.files.front().place);
            }
        }
        for (std::size_t k = 0; !failure.failed && k < batch.files.size(); ++k) {
            const bool last = k + 1 == batch.files.size();
            const history::NewHistory::Place after =
                last ? history.end() : batch.files[k + 1].place;
            takeUp(batch.files[k]);
            if (const platform::Status s = RenameOne(); !s.ok()) {
                failure = {true, s.targetExists(), s.reason};
                cutBack(batch.files[k].place);
                break;
            }
            if (++renamed == 1) {
                if (auto s = history.replaceOld(failedPath); !s.ok()) {
                    failure = {true, false, historyFailure(failedPath, s)};
                    cutBack(after);
                    break;
                }
            }
            if (!act.yieldToEvents()) {
                cutBack(after);
                endHistory();
                return RunEnding::Ended;
            }
            act.setProgressValue(ListIdx + 1);
        }
        if (!failure.failed && batch.stops) {
            OldName = batch.stopName;
            failure = batch.stop;
        }
        if (failure.clash) {
            show(msgClash);
            act.focusBaseName();
            act.setProgressValue(0);
            endHistory();
            if (renamed > 0) { // nothing to take back otherwise
                act.startRestore();
            }
            return RunEnding::NameClash;
        }
        if (failure.failed) {
            const std::string message = stoppedMessage(OldName, failure.reason, renamed > 0);
            endHistory();
            completedEnding(in, act, message);
            return RunEnding::Stopped;
        }
    }

    endHistory();
    completedEnding(in, act, msgDone);
    return RunEnding::Completed;
}

const RunFigures& lastRunFigures() {
    return figures;
}

void setBatchLimitForTesting(long files) {
    batchLimit = files;
}

} // namespace tavrin
