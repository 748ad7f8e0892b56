#include "engine/rename_run.h"
#include "engine/history.h"
#include "engine/history_files.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/random.h"
#include "platform/textfile.h"
#include "platform/unicode.h"

namespace tavrin {

namespace {

namespace tf = platform::textfile;
using history::newFile;
using history::oldFile;

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

void closeHistory() {
    tf::close(oldFile);
    tf::close(newFile);
}

// Takes the last pair back out of both files: its rename did not happen.
void withdrawPair(std::uint64_t oldSize, std::uint64_t newSize) {
    tf::truncate(oldFile, oldSize);
    tf::truncate(newFile, newSize);
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

// Records the pair of file `index` and renames it; the pair is on disk before
// the rename is tried, and withdrawn again when the rename fails.
Failure renameFile(const RunInputs& in, long index) {
    using namespace tavrinM;
    NewName = composeName(in, index);
    if (!isUsableName(OldName) || !isUsableNewName(NewName)) {
        return {true, false, msgUnsafeName};
    }
    const std::uint64_t oldSize = tf::size(oldFile);
    const std::uint64_t newSize = tf::size(newFile);
    if (auto s = tf::writeLine(oldFile, OldName); !s.ok()) {
        tf::truncate(oldFile, oldSize);
        return {true, false, s.reason};
    }
    if (auto s = tf::writeLine(newFile, NewName); !s.ok()) {
        withdrawPair(oldSize, newSize);
        return {true, false, s.reason};
    }
    const platform::Status renamed = RenameOne();
    if (!renamed.ok()) {
        withdrawPair(oldSize, newSize);
        return {true, renamed.targetExists(), renamed.reason};
    }
    return {};
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

    // One process at a time: a second one finds the history locked and touches nothing.
    platform::FolderLock lock;
    std::string failedPath = OldIniPath;
    bool replaced = false;
    platform::Status started = lock.acquire(platform::programFolder());
    if (started.ok()) {
        started = history::startNew(FolderPath, failedPath, replaced);
    }
    if (!started.ok()) {
        closeHistory();
        show("変更履歴を書き込めないため、変更を中止しました：" + failedPath + "\n" +
             started.reason);
        act.setProgressValue(0);
        ResetState();
        return RunEnding::HistoryFailed;
    }

    // Until a file is renamed the new history stays pending, so a run that
    // renames nothing leaves the history it found.
    long renamed = 0;
    const auto endHistory = [&] {
        if (renamed == 0) {
            history::dropNew(replaced);
        }
        closeHistory();
        lock.release();
    };
    for (ListIdx = 0; ListIdx < count; ++ListIdx) {
        Failure failure = renameFile(in, ListIdx);
        if (!failure.failed && ++renamed == 1 && !replaced) {
            if (auto s = history::replaceWithNew(failedPath); !s.ok()) {
                failure = {true, false,
                           "変更履歴を書き込めません：" + failedPath + "\n" + s.reason};
            }
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
        if (!act.yieldToEvents()) {
            endHistory();
            return RunEnding::Ended;
        }
        act.setProgressValue(ListIdx + 1);
    }

    endHistory();
    completedEnding(in, act, msgDone);
    return RunEnding::Completed;
}

} // namespace tavrin
