#include "engine/history_files.h"
#include "engine/tavrinM.h"
#include "platform/textfile.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace tavrin::history {

namespace {

namespace tf = platform::textfile;
using Clock = std::chrono::steady_clock;

SyncFigures figures;

// Adds the time since `start` to the figures.
void timed(Clock::time_point start) {
    figures.seconds += std::chrono::duration<double>(Clock::now() - start).count();
}

platform::Status syncFile(int number) {
    const auto start = Clock::now();
    platform::Status s = tf::sync(number);
    timed(start);
    ++figures.files;
    return s;
}

// The history's files live in the history folder.
platform::Status syncFolder() {
    const auto start = Clock::now();
    platform::Status s = platform::syncFolder(platform::historyFolder());
    timed(start);
    ++figures.folders;
    return s;
}

const char* const msgNotCrLf = "行が CR LF で終わっていません";
const char* const msgNoFolderLine = "フォルダーの行がありません";
const char* const msgNewEndsEarly = "New.ini が Old.ini より先に終わっています";
const char* const msgControlInFolder = "フォルダーの行に制御文字があります";
const char* const msgSameNames = "元の名前と新しい名前が同じ行があります";
const char* const msgFoldersOutOfStep = "フォルダーの行が Old.ini と合っていません";

HistoryLimits limits;

std::string tooMany(const HistoryLimits& l) {
    return "行が多すぎます（読めるのは " + std::to_string(l.lines) + " 行までです）";
}

std::string tooLong(const HistoryLimits& l) {
    return "長すぎる行があります（1 行 " + std::to_string(l.lineBytes) + " バイトまでです）";
}

// Pair `i` of `a` and pair `k` of `b` are the same: the same folder and names.
bool samePair(const HistoryPairs& a, std::size_t i, const HistoryPairs& b, std::size_t k) {
    return a.oldName(i) == b.oldName(k) && a.newName(i) == b.newName(k) &&
           a.folder(i) == b.folder(k);
}

// How many of the kept pairs, from the first kept, are no longer in Old.ini.
// A batch's kept pairs are made durable before the batch is cut off Old.ini:
// a restore stopped in between left them in both. They are the last kept,
// added last pair first, so the last of them is the earliest in Old.ini, and
// the others follow it there, among the batch's restored pairs.
std::size_t keptNotInOld(const HistoryPairs& history, const HistoryPairs& kept) {
    if (kept.empty()) {
        return 0;
    }
    std::size_t k = kept.size();
    for (std::size_t i = history.size(); i-- > 0;) {
        if (samePair(history, i, kept, k - 1)) {
            for (std::size_t j = i; j < history.size() && k > 0; ++j) {
                k -= samePair(history, j, kept, k - 1) ? 1 : 0;
            }
            break;
        }
    }
    return k;
}

// Two searches for one character each: find_first_of would search the set of
// two once for every character of the line.
bool holdsLineBreak(std::string_view line) {
    return line.find('\r') != std::string_view::npos || line.find('\n') != std::string_view::npos;
}

struct Lines : Parsed {
    bool inStep = true; // every line with its partner, and no extra New.ini lines
    long nameLines = 0;
    bool unreadable = false; // a file could not be opened or read: nothing is known of it
};

Lines failed(const std::string& path, std::string reason, bool unreadable = false) {
    Lines out;
    out.ok = false;
    out.path = path;
    out.reason = std::move(reason);
    out.unreadable = unreadable;
    return out;
}

bool holdsControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 0x20 || c == 0x7F;
    });
}

// The reader's rules. A last line cut short by a killed writer is a name line
// whose rename was never tried, and so is a last Old.ini line whose partner is
// missing: both are left out. Anything else that does not fit is damage: the
// first line must be a whole folder line, every line ends in CR LF, New.ini
// has the same folder lines as Old.ini at the same places (else the two are
// not one history: a new Old.ini beside an earlier New.ini, say), and the
// files keep within the limits. The folder lines are the lines of Old.ini
// that read as folder lines (isFolderLine); a name never does, as it holds
// no separator.
// `kept` reads the kept files, where a partner that was never written ends
// the list wherever it is (the pairs after it are still in Old.ini).
Lines parseLines(int oldN, int newN, const std::string& oldPath, const std::string& newPath,
                 bool kept) {
    Lines out;
    std::string folder;
    std::string oldLine, newLine; // reused: most names fit the room the last one took
    out.pairs.reserve(tf::size(oldN) + tf::size(newN));
    bool hasFolderLine = false;
    for (long line = 0; !tf::atEnd(oldN); ++line) {
        if (line == limits.lines) {
            return failed(oldPath, tooMany(limits));
        }
        const std::uint64_t oldStart = tf::position(oldN);
        const std::uint64_t newStart = tf::position(newN);
        oldLine.clear();
        bool oldComplete = false;
        const platform::Status oldRead = tf::readLine(oldN, oldLine, &oldComplete);
        if (!oldComplete) {
            if (kept && line == 0) {
                break;
            }
            const std::string_view cut = std::string_view(oldLine).substr(
                0,
                !oldLine.empty() && oldLine.back() == '\r' ? oldLine.size() - 1 : oldLine.size());
            if (line == 0 || holdsLineBreak(cut)) {
                return failed(oldPath, msgNotCrLf);
            }
            break;
        }
        if (!oldRead.ok()) {
            return failed(oldPath, oldRead.reason, true);
        }
        if (holdsLineBreak(oldLine)) {
            return failed(oldPath, msgNotCrLf);
        }
        if (oldLine.size() > limits.lineBytes) {
            return failed(oldPath, tooLong(limits));
        }
        const bool folderLine = isFolderLine(oldLine);
        if (line == 0 && !folderLine) {
            return failed(oldPath, msgNoFolderLine);
        }
        hasFolderLine = true;
        if (!folderLine) {
            ++out.nameLines;
        }
        const bool lastOld = tf::atEnd(oldN);
        newLine.clear();
        bool newComplete = false;
        platform::Status newRead;
        if (!tf::atEnd(newN)) {
            newRead = tf::readLine(newN, newLine, &newComplete);
        }
        if (!newComplete) {
            out.inStep = false;
            if (kept) {
                break; // the partner was never written
            }
            if (!lastOld) {
                return failed(newPath, msgNewEndsEarly);
            }
            if (folderLine) {
                break;
            }
            // A whole name line without a partner: New.ini is written and made
            // durable before Old.ini, so no writer of ours leaves this. It is
            // listed with no new name, so that it is reported and kept.
            out.pairs.add(folder, oldLine, "");
            out.starts.push_back({oldStart, newStart});
            break;
        }
        if (!newRead.ok()) {
            return failed(newPath, newRead.reason, true);
        }
        if (holdsLineBreak(newLine)) {
            return failed(newPath, msgNotCrLf);
        }
        if (newLine.size() > limits.lineBytes) {
            return failed(newPath, tooLong(limits));
        }
        if (folderLine ? newLine != oldLine : isFolderLine(newLine)) {
            return failed(newPath, msgFoldersOutOfStep);
        }
        // A folder that no run records, or a pair that names one file twice,
        // would make the restore take the user's file for a leftover of its own.
        if (folderLine && holdsControl(oldLine)) {
            return failed(oldPath, msgControlInFolder);
        }
        if (!folderLine && oldLine == newLine) {
            return failed(oldPath, msgSameNames);
        }
        if (folderLine) {
            folder = oldLine.substr(1);
        } else {
            out.pairs.add(folder, oldLine, newLine);
            out.starts.push_back({oldStart, newStart});
        }
    }
    if (!hasFolderLine && !kept) {
        return failed(oldPath, msgNoFolderLine); // an empty Old.ini
    }
    out.inStep = out.inStep && tf::atEnd(newN);
    return out;
}

// Opens and reads a pair of files; with Mode::Update they stay open unless
// the reading fails. New.ini is needed only when Old.ini names a file (a
// restore stopped between deleting the two leaves Old.ini alone).
Lines parseFiles(int oldN, int newN, const std::string& oldPath, const std::string& newPath,
                 bool kept = false, tf::Mode mode = tf::Mode::Input) {
    if (auto s = tf::open(oldN, oldPath, mode, limits.fileBytes); !s.ok()) {
        return failed(oldPath, s.reason, true);
    }
    const platform::Status newOpened = tf::open(newN, newPath, mode, limits.fileBytes);
    Lines lines = parseLines(oldN, newN, oldPath, newPath, kept);
    // A kept New.ini that is there but cannot be read would leave its pairs
    // out, and they would be dropped as never written. A New.ini that is there
    // (or may be) but cannot be opened is unknown, not empty; one that is not
    // there ends early. Either way the system's reason says why.
    if (!newOpened.ok()) {
        platform::Status lookFailed;
        const bool newThere =
            platform::entryKind(newPath, &lookFailed) != platform::EntryKind::None ||
            !lookFailed.ok();
        const bool needed =
            lines.ok ? lines.nameLines > 0 || (kept && newThere) : lines.path == newPath;
        if (needed) {
            lines =
                failed(newPath, lookFailed.ok() ? newOpened.reason : lookFailed.reason, newThere);
        }
    }
    if (mode != tf::Mode::Update || !lines.ok) {
        tf::close(oldN);
        tf::close(newN);
    }
    return lines;
}

HistoryRead toRead(Parsed&& parsed) {
    HistoryRead read;
    read.ok = parsed.ok;
    read.path = std::move(parsed.path);
    read.reason = std::move(parsed.reason);
    read.pairs = std::move(parsed.pairs);
    return read;
}

HistoryRead failedRead(const std::string& path, const std::string& reason) {
    return toRead(failed(path, reason));
}

// Which pending files there are, and whether they count.
enum class Pending { None, Dropped, Counting, HalfMoved };

struct PendingFiles {
    Pending state = Pending::None;
    std::optional<HistoryPair> first; // of both pending files, when they read in step
    bool halfDone = false;            // its rename was cut short: the new name holds a leftover
    platform::Status error;           // a look or a read failed: nothing is known
    std::string failedPath;
};

// Whether the first pair of a pending history was renamed: its new name
// taken or its old name gone. A rename cut short on a file system without a
// no-replace rename is not, and is `halfDone`: the file is still under its old
// name, and its new name holds the same file or the program's reservation.
platform::Status firstRenamed(const HistoryPair& pair, bool& renamed, bool& halfDone,
                              std::string& failedPath) {
    const std::string newPath = pair.folder + pair.newName;
    const std::string oldPath = pair.folder + pair.oldName;
    halfDone = false;
    bool newThere = false, oldThere = false;
    if (auto s = platform::entriesExist(newPath, oldPath, newThere, oldThere, failedPath);
        !s.ok()) {
        return s;
    }
    if (newThere && oldThere && isUsableName(pair.oldName) && isUsableName(pair.newName)) {
        if (auto s = platform::isOwnLeftover(newPath, oldPath, halfDone, failedPath); !s.ok()) {
            return s;
        }
    }
    renamed = (newThere || !oldThere) && !halfDone;
    return platform::Status::success();
}

PendingFiles pendingState(const Files& f) {
    PendingFiles p;
    bool oldThere = false, newThere = false;
    p.error = platform::entriesExist(f.oldPending, f.newPending, oldThere, newThere, p.failedPath);
    if (!p.error.ok()) {
        return p;
    }
    const auto unreadable = [&p](const Lines& lines) {
        if (lines.unreadable) {
            p.error = platform::Status::failure(lines.reason);
            p.failedPath = lines.path;
        }
        return lines.unreadable;
    };
    if (oldThere && newThere) {
        // A run records a whole batch ahead of its first rename: killed before
        // that rename, it renamed nothing and must leave the history it found.
        const Lines lines = parseFiles(oldFile, newFile, f.oldPending, f.newPending);
        p.state = Pending::Dropped;
        if (!unreadable(lines) && lines.ok && lines.inStep && !lines.pairs.empty()) {
            p.first = lines.pairs[0];
            bool renamed = false;
            p.error = firstRenamed(*p.first, renamed, p.halfDone, p.failedPath);
            p.state = renamed ? Pending::Counting : Pending::Dropped;
        }
        return p;
    }
    if (oldThere) {
        // Finished only over the New.ini it was written with: a leftover from
        // another history would pair its names with names of another run.
        const Lines lines = parseFiles(oldFile, newFile, f.oldPending, f.newPath);
        if (!unreadable(lines)) {
            p.state = lines.ok && lines.inStep ? Pending::HalfMoved : Pending::Dropped;
        }
        return p;
    }
    p.state = newThere ? Pending::Dropped : Pending::None;
    return p;
}

// A pending history's first pair: a rename of it cut short gives way to the
// old name, and what a fallback cut short left aside is settled.
platform::Status tidyFirstPair(const PendingFiles& p, std::string& failedPath) {
    if (!p.first || !isUsableName(p.first->oldName) || !isUsableName(p.first->newName)) {
        return platform::Status::success();
    }
    const std::string newPath = p.first->folder + p.first->newName;
    const std::string oldPath = p.first->folder + p.first->oldName;
    if (p.halfDone) {
        bool removed = false;
        if (auto s = platform::removeOwnLeftover(newPath, oldPath, removed, failedPath); !s.ok()) {
            return s;
        }
    }
    return platform::tidyAsides(newPath, oldPath, failedPath);
}

platform::Status removePending(const Files& f) {
    tf::close(oldFile);
    tf::close(newFile);
    platform::Status oldRemoved = platform::removeFile(f.oldPending);
    platform::Status newRemoved = platform::removeFile(f.newPending);
    return oldRemoved.ok() ? newRemoved : oldRemoved;
}

platform::Status removeKept(const Files& f, std::string& failedPath) {
    for (const std::string* kept : {&f.oldKept, &f.newKept}) {
        failedPath = *kept;
        if (auto s = platform::removeFile(*kept); !s.ok()) {
            return s;
        }
    }
    return platform::Status::success();
}

// The second half of a replacement: the kept files go with the history they
// belong to, then Old.ini.new takes its place, and the folder is made durable,
// so that after a power cut the history is still the one just put in place.
// Where the folder's file system may not keep its changes in order, what came
// before is made durable before Old.ini is replaced: a power cut could keep
// that move alone, and leave the new Old.ini beside the earlier New.ini or
// the earlier history's kept files. A history of an earlier run left in the
// other history folder goes too.
platform::Status finishReplacing(const Files& f, std::string& failedPath) {
    if (auto s = removeKept(f, failedPath); !s.ok()) {
        return s;
    }
    failedPath = f.oldPath;
    const std::string folder = platform::historyFolder();
    if (!platform::keepsOrderWith(folder, folder)) {
        if (auto s = syncFolder(); !s.ok()) {
            return s;
        }
    }
    if (auto s = platform::replaceFile(f.oldPending, f.oldPath); !s.ok()) {
        return s;
    }
    if (auto s = syncFolder(); !s.ok()) {
        return s;
    }
    platform::removeReplacedHistory();
    return platform::Status::success();
}

// Moves pending files that count into place.
platform::Status replaceWithPending(const Files& f, std::string& failedPath) {
    failedPath = f.newPath;
    if (auto s = platform::replaceFile(f.newPending, f.newPath); !s.ok()) {
        return s;
    }
    return finishReplacing(f, failedPath);
}

// Writes a history to the pending files, open as files 1 and 2: the folder
// line of `folder` when it is not empty, then `pairs` under their folders.
// New.ini.new is made first and Old.ini.new written last, each made durable
// before the next step: the files read in step only once both are whole, and
// Old.ini.new never holds a line whose partner could be missing after a power
// cut. Their folder is made durable last, so that they exist after one.
platform::Status writePending(const Files& f, const std::string& folder, const HistoryPairs& pairs,
                              std::string& failedPath) {
    for (const auto& [number, path, named] : {std::tuple{newFile, &f.newPending, &f.newPath},
                                              std::tuple{oldFile, &f.oldPending, &f.oldPath}}) {
        failedPath = *named;
        if (auto s = tf::open(number, *path, tf::Mode::Output); !s.ok()) {
            removePending(f);
            return s;
        }
    }
    for (const auto& [number, named, useOld] :
         {std::tuple{newFile, &f.newPath, false}, std::tuple{oldFile, &f.oldPath, true}}) {
        failedPath = *named;
        std::string current = folder;
        platform::Status s;
        if (!folder.empty()) {
            s = tf::queueLine(number, "-" + folder);
        }
        for (std::size_t i = 0; s.ok() && i < pairs.size(); ++i) {
            if (pairs.folder(i) != current) {
                current = pairs.folder(i);
                s = tf::queueLine(number, "-" + current);
            }
            if (s.ok()) {
                s = tf::queueLine(number, useOld ? pairs.oldName(i) : pairs.newName(i));
            }
        }
        if (s.ok()) {
            s = syncFile(number);
        }
        if (!s.ok()) {
            removePending(f);
            return s;
        }
    }
    if (auto s = syncFolder(); !s.ok()) {
        failedPath = f.oldPath;
        removePending(f);
        return s;
    }
    return platform::Status::success();
}

} // namespace

Files files() {
    const std::string pending(platform::pendingSuffix);
    const std::string kept(platform::keptSuffix);
    return {tavrinM::OldIniPath,           tavrinM::NewIniPath,
            tavrinM::OldIniPath + pending, tavrinM::NewIniPath + pending,
            tavrinM::OldIniPath + kept,    tavrinM::NewIniPath + kept};
}

Parsed openForRestore(bool& cannotChange) {
    const Files f = files();
    Lines lines = parseFiles(oldFile, newFile, f.oldPath, f.newPath, false, tf::Mode::Update);
    // Readable but not writable: the history could be read, not cut.
    cannotChange = !lines.ok && parseFiles(oldFile, newFile, f.oldPath, f.newPath).ok;
    return lines;
}

Parsed openIfSettled(bool& answered, bool& refused) {
    const Files f = files();
    answered = refused = false;
    Parsed out;
    out.ok = false;
    // A look that fails stops the restore as the long way would have: at the
    // pending files or Old.ini.kept when reading, at New.ini.kept when settling.
    const auto lookFailed = [&](const std::string& path, const platform::Status& s) {
        answered = true;
        out.path = path;
        out.reason = s.reason;
        return out;
    };
    bool oldThere = false, newThere = false;
    std::string failedPath;
    if (auto s = platform::entriesExist(f.oldPending, f.newPending, oldThere, newThere, failedPath);
        !s.ok()) {
        return lookFailed(failedPath, s);
    }
    if (oldThere || newThere) {
        return out;
    }
    for (const std::string* kept : {&f.oldKept, &f.newKept}) {
        platform::Status error;
        if (platform::entryExists(*kept, &error)) {
            return out;
        }
        if (!error.ok()) {
            refused = kept == &f.newKept;
            return lookFailed(*kept, error);
        }
    }
    return parseFiles(oldFile, newFile, f.oldPath, f.newPath, false, tf::Mode::Update);
}

HistoryRead readCurrent() {
    const Files f = files();
    const PendingFiles pending = pendingState(f);
    if (!pending.error.ok()) {
        return failedRead(pending.failedPath, pending.error.reason);
    }
    switch (pending.state) {
    case Pending::Counting:
        return toRead(parseFiles(oldFile, newFile, f.oldPending, f.newPending));
    case Pending::HalfMoved:
        return toRead(parseFiles(oldFile, newFile, f.oldPending, f.newPath));
    case Pending::None:
    case Pending::Dropped:
        break;
    }
    Lines history = parseFiles(oldFile, newFile, f.oldPath, f.newPath);
    if (!history.ok) {
        return toRead(std::move(history));
    }
    platform::Status lookFailed;
    if (!platform::entryExists(f.oldKept, &lookFailed)) {
        return lookFailed.ok() ? toRead(std::move(history))
                               : failedRead(f.oldKept, lookFailed.reason);
    }
    Lines kept = parseFiles(oldKeptFile, newKeptFile, f.oldKept, f.newKept, true);
    if (!kept.ok) {
        return toRead(std::move(kept));
    }
    auto& pairs = history.pairs;
    const std::size_t keptOnly = keptNotInOld(pairs, kept.pairs);
    for (std::size_t i = keptOnly; i-- > 0;) {
        pairs.add(kept.pairs.folder(i), kept.pairs.oldName(i), kept.pairs.newName(i));
    }
    return toRead(std::move(history));
}

platform::Status settle(bool foldKept, std::string& failedPath) {
    const Files f = files();
    const PendingFiles pending = pendingState(f);
    if (!pending.error.ok()) {
        failedPath = pending.failedPath;
        return pending.error;
    }
    if (auto s = tidyFirstPair(pending, failedPath); !s.ok()) {
        return s;
    }
    switch (pending.state) {
    case Pending::Counting:
        if (auto s = replaceWithPending(f, failedPath); !s.ok()) {
            return s;
        }
        break;
    case Pending::HalfMoved:
        if (auto s = finishReplacing(f, failedPath); !s.ok()) {
            return s;
        }
        break;
    case Pending::Dropped:
        failedPath = f.oldPending;
        if (auto s = removePending(f); !s.ok()) {
            return s;
        }
        break;
    case Pending::None:
        break;
    }
    if (!foldKept) {
        return platform::Status::success();
    }
    bool oldKeptThere = false, newKeptThere = false;
    if (auto s =
            platform::entriesExist(f.oldKept, f.newKept, oldKeptThere, newKeptThere, failedPath);
        !s.ok() || (!oldKeptThere && !newKeptThere)) {
        return s;
    }
    const Lines kept = parseFiles(oldKeptFile, newKeptFile, f.oldKept, f.newKept, true);
    if (kept.ok && kept.pairs.empty()) {
        // Stopped before its first kept pair was whole: Old.ini holds everything.
        return removeKept(f, failedPath);
    }
    const HistoryRead current = readCurrent();
    if (!current.ok) {
        failedPath = current.path;
        return platform::Status::failure(current.reason);
    }
    if (auto s = writePending(f, {}, current.pairs, failedPath); !s.ok()) {
        return s;
    }
    tf::close(oldFile);
    tf::close(newFile);
    return replaceWithPending(f, failedPath);
}

platform::Status NewHistory::start(const std::string& folder, std::string& failedPath) {
    const Files f = files();
    replaced_ = false;
    dropped_ = false;
    if (auto s = settle(false, failedPath); !s.ok()) {
        return s;
    }
    // The history is replaced by a rename, which would take the place of a link or
    // folder there without a word; such a thing is not the history. Only "not
    // there" means there is no history: a failed look refuses the run.
    bool oldThere = false;
    for (const std::string* path : {&f.oldPath, &f.newPath}) {
        failedPath = *path;
        platform::Status error;
        const platform::EntryKind kind = platform::entryKind(*path, &error);
        if (!error.ok()) {
            return error;
        }
        oldThere = oldThere || (path == &f.oldPath && kind != platform::EntryKind::None);
        if (kind == platform::EntryKind::Link) {
            return platform::Status::failure("シンボリックリンクなので開けません");
        }
        if (kind != platform::EntryKind::None && kind != platform::EntryKind::File) {
            return platform::Status::failure("通常のファイルではありません");
        }
    }
    if (auto s = writePending(f, folder, {}, failedPath); !s.ok()) {
        return s;
    }
    lines_ = 1;
    if (oldThere) {
        return platform::Status::success();
    }
    if (auto s = replaceWithPending(f, failedPath); !s.ok()) {
        removePending(f);
        return s;
    }
    replaced_ = true;
    return platform::Status::success();
}

NewHistory::Place NewHistory::end() const {
    return {tf::size(oldFile), tf::size(newFile), lines_};
}

platform::Status NewHistory::add(const std::string& oldName, const std::string& newName) {
    const Place before = end();
    platform::Status s = tf::queueLine(oldFile, oldName);
    if (s.ok()) {
        s = tf::queueLine(newFile, newName);
    }
    // What the reader would refuse is never written: the run stops before it.
    if (s.ok() && (lines_ == limits.lines || tf::size(oldFile) > limits.fileBytes ||
                   tf::size(newFile) > limits.fileBytes)) {
        s = platform::Status::failure("変更履歴がいっぱいです（1 ファイル " +
                                      std::to_string(limits.fileBytes) + " バイト、" +
                                      std::to_string(limits.lines) + " 行まで）");
    }
    if (s.ok()) {
        ++lines_;
    } else {
        tf::truncate(oldFile, before.oldSize);
        tf::truncate(newFile, before.newSize);
    }
    return s;
}

// The file the user knows, also while the history is pending.
std::string NewHistory::path(int number) const {
    const Files f = files();
    return number == oldFile ? f.oldPath : f.newPath;
}

// New.ini is made durable before Old.ini is written to, and Old.ini is cut
// back before New.ini: whatever a power cut or a kill leaves, Old.ini holds no
// line whose partner is missing from New.ini, so the history stays readable.
// (A pending history with extra New.ini lines does not count: nothing of its
// batch was renamed yet.)
platform::Status NewHistory::makeDurable(std::string& failedPath) {
    for (const int number : {newFile, oldFile}) {
        if (auto s = syncFile(number); !s.ok()) {
            failedPath = path(number);
            return s;
        }
    }
    return platform::Status::success();
}

platform::Status NewHistory::cutBack(Place place, std::string& failedPath) {
    lines_ = place.lines;
    for (const auto& [number, size] :
         {std::pair{oldFile, place.oldSize}, std::pair{newFile, place.newSize}}) {
        platform::Status s = tf::truncate(number, size);
        if (s.ok()) {
            s = syncFile(number);
        }
        if (!s.ok()) {
            failedPath = path(number);
            return s;
        }
    }
    return platform::Status::success();
}

platform::Status NewHistory::replaceOld(std::string& failedPath) {
    if (replaced_) {
        return platform::Status::success();
    }
    if (auto s = replaceWithPending(files(), failedPath); !s.ok()) {
        return s;
    }
    replaced_ = true;
    return platform::Status::success();
}

void NewHistory::drop() {
    if (dropped_) {
        return;
    }
    dropped_ = true;
    const Files f = files();
    if (!replaced_) {
        removePending(f);
    } else {
        close();
        platform::removeFile(f.newPath);
        platform::removeFile(f.oldPath);
    }
    // Pending files that came back after a power cut would count, and take the
    // place of the history this run leaves as it found it.
    syncFolder();
}

void NewHistory::close() {
    tf::close(oldFile);
    tf::close(newFile);
}

void UserFolders::renamedIn(const std::string& folder) {
    if (folder != last_) {
        last_ = folder;
        const auto known = std::find_if(known_.begin(), known_.end(),
                                        [&](const auto& entry) { return entry.first == folder; });
        lastOrdered_ =
            known != known_.end()
                ? known->second
                : known_
                      .emplace_back(folder,
                                    platform::keepsOrderWith(folder, platform::historyFolder()))
                      .second;
        lastUnsynced_ = std::find(unsynced_.begin(), unsynced_.end(), folder) != unsynced_.end();
    }
    if (!lastOrdered_ && !lastUnsynced_) {
        unsynced_.push_back(folder);
        lastUnsynced_ = true;
    }
}

platform::Status UserFolders::makeDurable(std::string& failedPath, bool* synced) {
    if (synced != nullptr) {
        *synced = !unsynced_.empty();
    }
    while (!unsynced_.empty()) {
        const auto start = Clock::now();
        platform::Status s = platform::syncFolder(unsynced_.back());
        timed(start);
        ++figures.folders;
        ++figures.userFolders;
        if (!s.ok()) {
            failedPath = unsynced_.back();
            return s;
        }
        unsynced_.pop_back();
    }
    lastUnsynced_ = false;
    return platform::Status::success();
}

SyncFigures syncFigures() {
    return figures;
}

} // namespace tavrin::history

namespace tavrin {

HistoryLimits historyLimits() {
    return history::limits;
}

void setHistoryLimitsForTesting(const HistoryLimits& limits) {
    history::limits = limits;
}

} // namespace tavrin
