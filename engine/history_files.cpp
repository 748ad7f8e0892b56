#include "engine/history_files.h"
#include "engine/tavrinM.h"
#include "platform/textfile.h"

#include <algorithm>
#include <chrono>

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

// The same pair: its folder and both names.
bool samePair(const HistoryPair& a, const HistoryPair& b) {
    return a.folder == b.folder && a.oldName == b.oldName && a.newName == b.newName;
}

// Two searches for one character each: find_first_of would search the set of
// two once for every character of the line.
bool holdsLineBreak(std::string_view line) {
    return line.find('\r') != std::string_view::npos || line.find('\n') != std::string_view::npos;
}

struct Lines : Parsed {
    bool inStep = true; // same folder lines at the same places, and no extra New.ini lines
    long nameLines = 0;
};

Lines failed(const std::string& path, std::string reason) {
    Lines out;
    out.ok = false;
    out.path = path;
    out.reason = std::move(reason);
    return out;
}

// The reader's rules. A last line cut short by a killed writer is a name line
// whose rename was never tried, and so is a last Old.ini line whose partner is
// missing: both are left out. Anything else that does not fit is damage: the
// first line must be a whole folder line, and every line ends in CR LF.
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
            return failed(oldPath, oldRead.reason);
        }
        if (holdsLineBreak(oldLine)) {
            return failed(oldPath, msgNotCrLf);
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
            return failed(newPath, newRead.reason);
        }
        if (holdsLineBreak(newLine)) {
            return failed(newPath, msgNotCrLf);
        }
        if (folderLine) {
            folder = oldLine.substr(1);
            out.inStep = out.inStep && newLine == oldLine;
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
    if (auto s = tf::open(oldN, oldPath, mode); !s.ok()) {
        return failed(oldPath, s.reason);
    }
    const platform::Status newOpened = tf::open(newN, newPath, mode);
    Lines lines = parseLines(oldN, newN, oldPath, newPath, kept);
    // A kept New.ini that is there but cannot be read would leave its pairs
    // out, and they would be dropped as never written. One that could not be
    // read seems to end early: the system's reason says why.
    if (!newOpened.ok() &&
        (lines.ok ? lines.nameLines > 0 ||
                        (kept && platform::entryKind(newPath) != platform::EntryKind::None)
                  : lines.path == newPath)) {
        lines = failed(newPath, newOpened.reason);
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

// Which pending files there are, and whether they count.
enum class Pending { None, Dropped, Counting, HalfMoved };

// A pair whose rename never happened: its new name is free, its old name there.
bool neverRenamed(const HistoryPair& pair) {
    return !platform::entryExists(pair.folder + pair.newName) &&
           platform::entryExists(pair.folder + pair.oldName);
}

Pending pendingState(const Files& f) {
    const bool oldThere = platform::entryExists(f.oldPending);
    const bool newThere = platform::entryExists(f.newPending);
    if (oldThere && newThere) {
        // A run records a whole batch ahead of its first rename: killed before
        // that rename, it renamed nothing and must leave the history it found.
        const Lines lines = parseFiles(oldFile, newFile, f.oldPending, f.newPending);
        return lines.ok && lines.inStep && !lines.pairs.empty() && !neverRenamed(lines.pairs[0])
                   ? Pending::Counting
                   : Pending::Dropped;
    }
    if (oldThere) {
        // Finished only over the New.ini it was written with: a leftover from
        // another history would pair its names with names of another run.
        const Lines lines = parseFiles(oldFile, newFile, f.oldPending, f.newPath);
        return lines.ok && lines.inStep ? Pending::HalfMoved : Pending::Dropped;
    }
    return newThere ? Pending::Dropped : Pending::None;
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
// A history of an earlier run left in the other history folder goes too.
platform::Status finishReplacing(const Files& f, std::string& failedPath) {
    if (auto s = removeKept(f, failedPath); !s.ok()) {
        return s;
    }
    failedPath = f.oldPath;
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

HistoryRead readCurrent() {
    const Files f = files();
    switch (pendingState(f)) {
    case Pending::Counting:
        return toRead(parseFiles(oldFile, newFile, f.oldPending, f.newPending));
    case Pending::HalfMoved:
        return toRead(parseFiles(oldFile, newFile, f.oldPending, f.newPath));
    case Pending::None:
    case Pending::Dropped:
        break;
    }
    Lines history = parseFiles(oldFile, newFile, f.oldPath, f.newPath);
    if (!history.ok || !platform::entryExists(f.oldKept)) {
        return toRead(std::move(history));
    }
    Lines kept = parseFiles(oldKeptFile, newKeptFile, f.oldKept, f.newKept, true);
    if (!kept.ok) {
        return toRead(std::move(kept));
    }
    // A pair is added to the kept files before it is cut off Old.ini: a restore
    // stopped in between left it in both.
    auto& pairs = history.pairs;
    if (!pairs.empty() && !kept.pairs.empty() &&
        samePair(pairs[pairs.size() - 1], kept.pairs[kept.pairs.size() - 1])) {
        pairs.removeLast();
    }
    for (std::size_t i = kept.pairs.size(); i-- > 0;) {
        pairs.add(kept.pairs.folder(i), kept.pairs.oldName(i), kept.pairs.newName(i));
    }
    return toRead(std::move(history));
}

platform::Status settle(bool foldKept, std::string& failedPath) {
    const Files f = files();
    switch (pendingState(f)) {
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
    if (!foldKept || (!platform::entryExists(f.oldKept) && !platform::entryExists(f.newKept))) {
        return platform::Status::success();
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
    return {tf::size(oldFile), tf::size(newFile)};
}

platform::Status NewHistory::add(const std::string& oldName, const std::string& newName) {
    const Place before = end();
    platform::Status s = tf::queueLine(oldFile, oldName);
    if (s.ok()) {
        s = tf::queueLine(newFile, newName);
    }
    if (!s.ok()) {
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
