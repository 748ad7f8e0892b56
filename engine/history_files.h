// The history files as the run and the restore use them: the rules they are
// read by, and the one way a new history replaces the old.
//
// A new history is first written to the pending files (Old.ini.new and
// New.ini.new), then moved into place: New.ini.new first, then Old.ini.new.
//
// When pending files count, in full:
// - Both pending files there: they count when they read in step (the same
//   folder lines at the same places, as many lines in each) and their first
//   pair was renamed (its old name gone or its new name taken, other than by
//   what a fallback rename cut short left: the same file under both names,
//   or the program's reservation, which is then removed). A run writes
//   its folder lines and first batch there, so that a run that renames
//   nothing leaves the history it found; a rewrite writes the whole of
//   New.ini.new before Old.ini.new. Counting pending files take the
//   history's place before anything else is written.
// - Old.ini.new alone: a move was half done. It is finished only when it is
//   in step with the New.ini beside it, which it was written with.
// - Anything else (New.ini.new alone, files out of step, no pair, a first
//   pair never renamed) does not count and is dropped.
//
// Whatever is written is made durable before anything depends on it: the
// files and their folder before a rename they record, and the folder again
// once they are moved into place. The user's folder is made durable too
// before the history relies on its renames (see UserFolders).
//
// A restore cuts each batch of pairs it has dealt with off the end of both
// files. A pair it cannot restore is first added to the kept files
// (Old.ini.kept and New.ini.kept), made durable, then cut; the history is the
// pairs still in Old.ini followed by the kept ones, and the restore writes
// them back as one history when it ends. Moving a new history into place
// deletes the kept files, which belong to the history it replaces.
#pragma once

#include "engine/history.h"
#include "platform/fs.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::history {

// Old.ini and New.ini are files 1 and 2, the kept files 3 and 4.
constexpr int oldFile = 1;
constexpr int newFile = 2;
constexpr int oldKeptFile = 3;
constexpr int newKeptFile = 4;

// The paths of the history and of its pending and kept files, from
// OldIniPath and NewIniPath.
struct Files {
    std::string oldPath, newPath;
    std::string oldPending, newPending;
    std::string oldKept, newKept;
};
Files files();

// Where the lines of a pair begin in the two files.
struct PairStart {
    std::uint64_t oldStart = 0;
    std::uint64_t newStart = 0;
};

struct Parsed {
    HistoryPairs pairs;
    std::vector<PairStart> starts; // one for each pair
    bool ok = true;
    std::string path, reason; // when !ok
};

// Opens Old.ini and New.ini as files 1 and 2 for reading and cutting back, and
// reads them; they stay open when the reading succeeds. `cannotChange` tells a
// history that could be read but not opened for cutting.
Parsed openForRestore(bool& cannotChange);

// The same, when there is nothing to settle (no pending and no kept files)
// and the history can be opened and read. Otherwise `ok` is false and nothing
// is open: readCurrent, settle and openForRestore tell why, unless a look
// failed (`answered`), which the history would then be refused for (`refused`)
// or unreadable for.
Parsed openIfSettled(bool& answered, bool& refused);

// The history as it stands, a replacement that was under way or a restore
// that was stopped included. Writes nothing. Only "not there" means not
// there: a look or a read that fails makes the history unreadable.
HistoryRead readCurrent();

// Finishes a replacement that was under way and drops one that was not; with
// `foldKept`, also writes the pairs a stopped restore kept back into the
// history. Leaves the history the same, in its plain form. A look that fails
// stops it, as in readCurrent.
platform::Status settle(bool foldKept, std::string& failedPath);

// The history a run writes, as files 1 and 2: first the pending files, in
// place of the history once the run has renamed its first file. Pairs are
// queued, then written and made durable together, ahead of their renames.
class NewHistory {
public:
    NewHistory() = default;
    ~NewHistory() { close(); }
    NewHistory(const NewHistory&) = delete;
    NewHistory& operator=(const NewHistory&) = delete;

    // Writes the folder lines to the pending files and makes them durable.
    // Where there was no history (no Old.ini), there is nothing to keep and
    // they take its place at once: the undo looks for Old.ini alone. Otherwise
    // nothing else has changed.
    platform::Status start(const std::string& folder, std::string& failedPath);

    // Where the next pair begins in each file, and its line.
    struct Place {
        std::uint64_t oldSize = 0, newSize = 0;
        long lines = 0;
    };
    Place end() const;

    // Queues a pair; queues nothing when a name cannot be recorded or the
    // history would go beyond its limits (historyLimits()).
    platform::Status add(const std::string& oldName, const std::string& newName);

    // Writes the queued pairs and makes both files durable.
    platform::Status makeDurable(std::string& failedPath);

    // Cuts both files back to `place`, durably: the pairs from there on record
    // renames that did not happen.
    platform::Status cutBack(Place place, std::string& failedPath);

    // Once the first file is renamed: the new history takes the place of the
    // old one. Files 1 and 2 stay open on it.
    platform::Status replaceOld(std::string& failedPath);

    // Nothing was renamed: the new history goes again, and the history files
    // are as the run found them. Once is enough.
    void drop();

    void close();

private:
    std::string path(int number) const;

    bool replaced_ = false;
    bool dropped_ = false;
    long lines_ = 0; // in each file
};

// The user's folders where files were renamed since they were last made
// durable. A history that relies on those renames (a new one replacing the
// old, a pair taking a name a rename freed, a restore cutting pairs off or
// deleting the history) must not outlast them in a power cut. Where a folder
// and the history folder share one journalling file system that keeps its
// changes in order (platform::keepsOrderWith), the history's own syncs come
// after the renames and commit them too: nothing more is done, and a run or
// chain costs no more than without. Elsewhere (two disks, FAT or exFAT on a
// card) the folder is synced once per batch.
class UserFolders {
public:
    // After a rename in `folder` (with its separator). Cheap when repeated.
    void renamedIn(const std::string& folder);

    // Makes the renames so far durable; `synced` tells whether a folder had
    // to be synced for it (and the history's next change should be too).
    platform::Status makeDurable(std::string& failedPath, bool* synced = nullptr);

private:
    std::string last_;
    bool lastOrdered_ = true;
    bool lastUnsynced_ = false;                       // last_ is among unsynced_
    std::vector<std::pair<std::string, bool>> known_; // folder, keeps order
    std::vector<std::string> unsynced_;
};

// How often and how long the history was made durable, since the program
// started: the benchmark reports it.
struct SyncFigures {
    long files = 0;       // files made durable
    long folders = 0;     // folders made durable
    long userFolders = 0; // of them, the user's folders
    double seconds = 0;
};
SyncFigures syncFigures();

} // namespace tavrin::history
