// File-system services the engine stands on: no-replace rename, delete, the
// ordinary-file and entry tests, the history lock, the program folder and the
// directory listing.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::platform {

// The native path separator: "\" on Windows, "/" elsewhere.
char separator();

// Result of an operation that may fail with a reason from the operating system.
struct Status {
    enum class Kind { Ok, TargetExists, InUse, Failed };
    Kind kind = Kind::Ok;
    std::string reason; // the system's own words, empty when ok

    bool ok() const { return kind == Kind::Ok; }
    bool targetExists() const { return kind == Kind::TargetExists; }
    bool inUse() const { return kind == Kind::InUse; }

    static Status success() { return {}; }
    static Status failure(std::string why) { return {Kind::Failed, std::move(why)}; }
};

// Renames `from` to `to` in one step; never replaces an existing `to`. A clash
// comes back as Kind::TargetExists and leaves both files as they were.
Status renameNoReplace(const std::string& from, const std::string& to);

// Moves `from` over `to`, replacing it. Used only for the program's own files.
Status replaceFile(const std::string& from, const std::string& to);

// Deletes a file; a file that is not there is no failure.
Status removeFile(const std::string& path);

// Makes the entries of `folder` durable (files created, moved or removed
// there survive a power cut). A file system that has no such step is no failure.
Status syncFolder(const std::string& folder);

// True when `folder` and `other` are on one file system that journals its
// metadata and, after a power cut, keeps its changes in the order they were
// made: ext4 with a journal and XFS (one log committed in order) on Linux,
// NTFS on Windows. Elsewhere (two file systems, ext2 and ext4 without a
// journal, FAT and exFAT, btrfs, whose fsync logs a file ahead of earlier
// changes to other folders) a rename is durable only once its folder is
// synced. A failed look answers false, which costs only syncs.
bool keepsOrderWith(const std::string& folder, const std::string& other);

// Test-only: make keepsOrderWith answer `kept` (0 or 1) instead, or with 2
// true only for a folder with itself (another folder is on another disk);
// -1 asks again.
void setOrderKeptForTesting(int kept);

// True when `path` names an ordinary file that is neither hidden nor a folder.
// A failure of the lookup itself (other than "not there") is reported in `error`.
bool isOrdinaryFile(const std::string& path, Status* error = nullptr);

// What is at `path`, a link not followed. Hidden entries count like any other.
// A failure of the lookup itself is reported in `error` and answers None.
enum class EntryKind { None, File, Folder, Link, Other };
EntryKind entryKind(const std::string& path, Status* error = nullptr);

// True when anything at all is at `path`: a file, a folder or a link.
inline bool entryExists(const std::string& path, Status* error = nullptr) {
    return entryKind(path, error) != EntryKind::None;
}

// Whether anything is at `a` and at `b`, as entryExists tells; a look that
// fails is a failure, and `failedPath` names its path.
Status entriesExist(const std::string& a, const std::string& b, bool& aThere, bool& bThere,
                    std::string& failedPath);

// The entries of one folder, looked up by name as entryExists does. A folder
// of a local file system is read once and watched from then on (inotify on
// Linux, change notifications on Windows), so that a name it has never held
// is known to be free without a lookup: on tmpfs, which remembers no missing
// names, that lookup costs more than a write, and on Windows it is a whole
// open through the system and its file-system filters. On Linux the folder
// is also held open, so that a lookup walks no path but the name.
class FolderEntries {
public:
    explicit FolderEntries(const std::string& folder);
    ~FolderEntries();
    FolderEntries(const FolderEntries&) = delete;
    FolderEntries& operator=(const FolderEntries&) = delete;

    // True when anything at all is in the folder under `name`. A name that
    // first appeared after the folder was read or last refreshed may be
    // missed. A failure of the lookup itself is reported in `error` and
    // answers false.
    bool contains(const std::string& name, Status* error = nullptr) const;

    // Takes in the names that appeared in the folder since it was read or
    // last refreshed. Lookups stay cheap while at most
    // `changesBetweenRefreshes` names appear between two refreshes; after
    // more, each one asks the file system.
    void refresh();
    static constexpr long changesBetweenRefreshes = 8192;

    // True while names the folder never held are answered without a lookup.
    bool watching() const;

private:
    struct Watch;
    std::string folder_; // ends in the separator
    long long handle_ = -1;
    std::unique_ptr<Watch> watch_;
};

// A folder held open while many of its files are renamed. Where the system
// allows (Linux), its renames name the files within the folder held, so that
// the folder's path is walked once and not twice for every file; elsewhere,
// and where the folder could not be held, they go by its path.
class HeldFolder {
public:
    explicit HeldFolder(const std::string& folder);
    ~HeldFolder();
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    // Renames the entry `from` of the folder to `to`, as renameNoReplace does.
    Status rename(std::string_view from, std::string_view to);

    // Fails once the folder's path no longer leads to the folder held: the
    // folder was moved, deleted or replaced, or the look failed.
    Status stillAt() const;

private:
    std::string folder_; // ends in the separator
    long long handle_ = -1;
    unsigned long long device_ = 0, file_ = 0; // which folder is held
    bool known_ = false;                       // whether they are known
    std::string from_, to_;                    // reused from rename to rename
};

// Leftovers of a rename cut short. Where a file system has no no-replace
// rename, a rename killed half-way leaves a second name of the file (link,
// then unlink) or a reservation of the new name (create it, then rename onto
// it). The program removes such a leftover only when it can prove it is its
// own:
// - a second name: two different names of one file (device and file number);
// - a reservation: a file that holds nothing but reservationMark. An empty
//   file proves nothing (a user's placeholder is empty too); an empty one
//   counts only while the reservation's aside name holds a mark of the
//   program's, written there before the name was taken, and the file it was
//   taken for still has its name: a kill between taking and marking leaves proof.
// A removal first moves the name aside, under a hidden name of the program's
// own in the same folder (asidePath), checks what it moved, then removes it
// or moves it back: a file saved under the name meanwhile is never removed.
inline constexpr char reservationMarkBytes[] = "\0Tavrin reserved this name\n";
inline constexpr std::string_view reservationMark{reservationMarkBytes,
                                                  sizeof reservationMarkBytes - 1};

// The program's own hidden name in the folder of `path` for moving `path`
// aside, and for marking a reservation of `path` before it is taken.
std::string asidePath(const std::string& path);

// Whether the entry at `path` is the program's own leftover beside `other`,
// the other name of its pair. A look that fails is a failure, and
// `failedPath` names its file.
Status isOwnLeftover(const std::string& path, const std::string& other, bool& own,
                     std::string& failedPath);

// Removes `path` when it is the program's own leftover beside `other`; what
// is not goes back to its name. `removed` tells whether it went. A failed look
// or move is a failure, and `failedPath` names its file.
Status removeOwnLeftover(const std::string& path, const std::string& other, bool& removed,
                         std::string& failedPath);

// Settles what a removal or a reservation cut short left under the aside
// names of `a` and `b`, the two names of a pair: the program's own (a mark,
// an empty file, a second name of a file that has another) is removed, with an empty
// reservation it proves; anything else goes back to its name, and stays
// where it is, as a failure, when that name is taken. Nothing is no failure.
Status tidyAsides(const std::string& a, const std::string& b, std::string& failedPath);

// True when `name` can only name an entry of the folder it is joined to: not
// empty, not "." or "..", and free of this system's separators (and, on
// Windows, of the drive and stream mark ":").
bool isPlainName(std::string_view name);

// True where a name that begins with "." is hidden from listings (POSIX).
bool hidesLeadingDot();

// The longest name the file system holding `folder` takes, and the length of
// a name in the same units: bytes on POSIX, UTF-16 units on Windows.
long maxNameLength(const std::string& folder);
long nameLength(std::string_view utf8);

// The program's own files beside it: the two history files and the pending
// and kept files their rewrites use. Listings of the program folder leave
// them out, so no run can rename them.
inline constexpr std::string_view oldHistoryName = "Old.ini";
inline constexpr std::string_view newHistoryName = "New.ini";
inline constexpr std::string_view pendingSuffix = ".new";
inline constexpr std::string_view keptSuffix = ".kept";
inline constexpr std::string_view lockFileName = "Tavrin.lock"; // Windows
// Which of two history folders holds the last run's history (historyFolder).
inline constexpr std::string_view generationFileName = "Tavrin.generation";
bool isProgramOwnFile(std::string_view name);

// An exclusive hold on the history of one program folder, for one process at
// a time; released when destroyed (and by the system when the process dies).
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock on `folder`; Kind::InUse when another holder has it.
    Status acquire(const std::string& folder);
    void release();
    bool held() const { return handle_ != -1; }

private:
    long long handle_ = -1;
};

// True when `text` is an absolute folder path that ends in the separator.
bool isAbsoluteFolder(std::string_view text);

// The folder of the running executable: no trailing separator except at a root.
std::string programFolder();

// Test-only: make programFolder() answer `folder` instead (empty restores it).
// The history folder is chosen again, and stays `folder` unless a user state
// folder is given for testing too.
void setProgramFolderForTesting(const std::string& folder);

// The folder of the history files (with the lock, pending and kept files),
// chosen once per process: the program folder when this user can create a
// file there, else the user's own folder for program data ($XDG_STATE_HOME/tavrin,
// by default ~/.local/state/tavrin; %LOCALAPPDATA%\Tavrin on Windows), created
// when chosen. Where both hold a history, the folder of the last run's is
// chosen while it is writable; where it is not, that history is first copied
// into the other folder. A history a later run replaced is never chosen.
std::string historyFolder();

// Once a run's history has taken the place of the one before: removes, where
// it can, the history a later run replaced in the other folder.
void removeReplacedHistory();

// The user's own folder for Tavrin's data; empty when the system names none.
std::string userStateFolder();

// Test-only: make userStateFolder() answer `folder` (empty restores it) and
// choose the history folder again.
void setUserStateFolderForTesting(const std::string& folder);

// The ordinary, non-hidden files of `folder` whose names match `pattern`,
// sorted by nameLess. Reading the folder can fail; then `error` says why.
std::vector<std::string> listFiles(const std::string& folder, std::string_view pattern,
                                   Status* error = nullptr);

// The names of `names` that match `pattern`, in their order.
std::vector<std::string> namesMatching(const std::vector<std::string>& names,
                                       std::string_view pattern);

// The visible subfolders of `folder`, sorted by nameLess.
std::vector<std::string> listFolders(const std::string& folder, Status* error = nullptr);

// The subfolders (as listFolders) and the files (as listFiles with "*.*") of
// `folder`, from one reading of it.
struct FolderContents {
    std::vector<std::string> folders;
    std::vector<std::string> files;
};
FolderContents listFolder(const std::string& folder, Status* error = nullptr);

// The drives a user would browse: on Windows the drive letters ("C:\"), elsewhere
// "/" first, then the mounted file systems below /media, /mnt, /run/media and /home.
std::vector<std::string> drives();

// The drive that holds `path`: the longest drive that is a prefix of it.
std::string driveOf(const std::string& path);

// Wildcard match: "*" any run, "?" one character, letter case not significant;
// "*.*" matches every name, also one without a dot.
bool matchesPattern(std::string_view name, std::string_view pattern);

// Ascending name order: case-folded text code point by code point, ties broken
// by the exact bytes, so the order is total.
bool nameLess(std::string_view a, std::string_view b);

// Sorts names in place by nameLess, folding each name once.
void sortNames(std::vector<std::string>& names);

} // namespace tavrin::platform
