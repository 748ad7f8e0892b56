#include "engine/rename_run.h"
#include "engine/tavrinM.h"
#include "platform/random.h"
#include "platform/textfile.h"
#include "platform/unicode.h"

namespace tavrin {

namespace {

namespace tf = platform::textfile;

constexpr int oldFile = 1;
constexpr int newFile = 2;

const char* const msgBothOptions = "オプション 変更はどちらか一方のみ選択可能です";
const char* const msgNoBaseName = "ファイル名を入力してください";
const char* const msgNoExtension = "変更する拡張子を入力してください";
const char* const msgUnsafeName = "ファイル名に使用できない文字が含まれています";
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

bool isSafeName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && isSafeNamePart(name);
}

bool hasControl(std::string_view text) {
    for (const char ch : text) {
        if (isControl(static_cast<unsigned char>(ch))) {
            return true;
        }
    }
    return false;
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

bool anyExtensionOnlyNameUnsafe(const RunInputs& in, const std::string& ext) {
    const long count = in.fileCount();
    for (long i = 0; i < count; ++i) {
        const std::string composed = throughFirstDot(in.fileName(i)) + ext;
        if (composed == "." || composed == "..") {
            return true;
        }
    }
    return false;
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
    if (!kacC && !isSafeNamePart(base)) {
        show(msgUnsafeName);
        act.focusBaseName();
        return false;
    }
    if ((kaC || kacC) && (!isSafeNamePart(ext) || (kacC && anyExtensionOnlyNameUnsafe(in, ext)))) {
        show(msgUnsafeName);
        act.focusNewExtension();
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

std::string stoppedMessage(const std::string& oldName, const std::string& reason) {
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
    if (hasControl(OldName) || !isSafeName(NewName)) {
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

// Opens both history files and writes the folder line; the reason on failure.
platform::Status startHistory(std::string& failedPath) {
    using namespace tavrinM;
    for (const auto& [number, path] :
         {std::pair{oldFile, OldIniPath}, std::pair{newFile, NewIniPath}}) {
        failedPath = path;
        if (auto s = tf::open(number, path, tf::Mode::Output); !s.ok()) {
            return s;
        }
    }
    for (const auto& [number, path] :
         {std::pair{oldFile, OldIniPath}, std::pair{newFile, NewIniPath}}) {
        failedPath = path;
        if (auto s = tf::writeLine(number, "-" + FolderPath); !s.ok()) {
            return s;
        }
    }
    return platform::Status::success();
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
    FolderPath = in.folder();
    if (FolderPath.empty() || FolderPath.back() != platform::separator()) {
        FolderPath += platform::separator();
    }
    platform::random::seedFromClock();
    SetHistoryPaths();

    std::string failedPath;
    if (auto s = startHistory(failedPath); !s.ok()) {
        closeHistory();
        show("変更履歴を書き込めないため、変更を中止しました：" + failedPath + "\n" + s.reason);
        act.setProgressValue(0);
        ResetState();
        return RunEnding::HistoryFailed;
    }

    for (ListIdx = 0; ListIdx < count; ++ListIdx) {
        const Failure failure = renameFile(in, ListIdx);
        if (failure.clash) {
            show(msgClash);
            act.focusBaseName();
            act.setProgressValue(0);
            closeHistory();
            act.startRestore();
            return RunEnding::NameClash;
        }
        if (failure.failed) {
            const std::string message = stoppedMessage(OldName, failure.reason);
            closeHistory();
            completedEnding(in, act, message);
            return RunEnding::Stopped;
        }
        if (!act.yieldToEvents()) {
            closeHistory();
            return RunEnding::Ended;
        }
        act.setProgressValue(ListIdx + 1);
    }

    closeHistory();
    completedEnding(in, act, msgDone);
    return RunEnding::Completed;
}

} // namespace tavrin
