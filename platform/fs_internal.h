// What the OS-specific sources give the shared listing code.
#pragma once

#include "platform/fs.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tavrin::platform::detail {

// The names of the ordinary, non-hidden files of `folder`, in no order.
std::vector<std::string> ordinaryFileNames(const std::string& folder, Status* error);

// The non-hidden subfolders and the ordinary files of `folder`, in no order,
// from one reading of the folder. Either list may be null.
void readFolder(const std::string& folder, std::vector<std::string>* folders,
                std::vector<std::string>* files, Status* error);

// True when `a` and `b` name the same folder, however they are written.
bool isSameFolder(const std::string& a, const std::string& b);

// True when the program's own files may lie in `folder`: the program folder
// or the history folder.
bool isProgramFolder(const std::string& folder);

// True when this process can create (and remove again) a file in `folder`.
bool canCreateFileIn(const std::string& folder);

// Creates `folder` and its missing parents, readable by their owner alone.
Status makeFolders(const std::string& folder);

// The user's folder for Tavrin's data as the system names it; empty when none.
std::string systemStateFolder();

// Test-only: the program folder was pointed elsewhere (`overridden`) or back;
// the history folder is chosen again.
void programFolderChangedForTesting(bool overridden);

// The history folder for a program in `program` and a user state folder
// `state` (empty when there is none): the rule historyFolder() applies.
std::string chooseHistoryFolder(const std::string& program, const std::string& state);

// Plain file handles for the numbered text files. None of the opens follows a
// link at `path`: a link there is refused.
using FileHandle = long long;
constexpr FileHandle invalidHandle = -1;

// Creates or empties `path` for writing.
FileHandle openForOutput(const std::string& path, Status* error);
// Opens an existing file for reading and cutting back.
FileHandle openForUpdate(const std::string& path, Status* error);
// Opens an existing file for reading.
FileHandle openForInput(const std::string& path, Status* error);
// Reads from the current position to the end of the file. A file of more
// than `limit` bytes is refused (tooLarge) by its size before it is read, and
// so is one that grows beyond it while it is read.
Status readAll(FileHandle handle, std::string& content,
               std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());
inline Status tooLarge(std::uint64_t limit) {
    return Status::failure("ファイルが大きすぎます（読めるのは " + std::to_string(limit) +
                           " バイトまでです）");
}
// Hands `data` to the system in one write (more only if the system takes
// part); `written` tells how much of it reached the file, also on a failure.
Status writeAll(FileHandle handle, std::string_view data, std::size_t& written);
// Cuts the file back to `size` bytes; later writes go on from there.
Status truncateTo(FileHandle handle, unsigned long long size);
// Makes what was written durable: the data and the size, on the disk.
Status syncData(FileHandle handle);
void closeHandle(FileHandle handle);

// POSIX: the no-replace rename for file systems that have neither
// RENAME_NOREPLACE nor hard links. It reserves `to` by creating it with the
// reservation mark (its aside name marked first), then renames onto that file
// of its own.
Status renameByReservation(const std::string& from, const std::string& to);

// What the ownership checks need of an entry, a link not followed: kind None
// when nothing is there ("not there" is no failure; any other failed look is).
struct EntryFacts {
    EntryKind kind = EntryKind::None;
    unsigned long long device = 0, file = 0; // which file it is
    unsigned long long size = 0;
    unsigned long long links = 0; // names the file has
};
Status entryFacts(const std::string& path, EntryFacts& facts);

// Why a run ends whose folder is no longer at its path.
inline constexpr const char* msgFolderMoved = "フォルダーが移動または削除されました";

// The first `max` bytes of the ordinary file at `path`, a link not followed.
Status readHead(const std::string& path, std::size_t max, std::string& bytes);

// Moves `from` in one step to `to`, a name of the program's own: never over
// an existing `to` unless `replace` (then what is there is the program's own).
Status moveToOwnName(const std::string& from, const std::string& to, bool replace);

// Moves an entry back from a name of the program's own to `to`, never over an
// existing `to`.
Status moveBack(const std::string& from, const std::string& to);

// What proves an entry moved aside to be the program's own: any of these.
struct Proof {
    bool mark = false;                         // it holds the reservation mark alone
    const std::string* secondNameOf = nullptr; // it is a second name of this file
    const EntryFacts* same = nullptr;          // it is this very file, of this size
};

// Moves `path` aside (asidePath), checks what was moved against `proof`, then
// removes it, or moves it back when it is not proved the program's own.
// `removed` tells whether it went; a `path` that is not there is nothing to remove.
Status removeChecked(const std::string& path, const Proof& proof, bool& removed,
                     std::string& failedPath);

// Test-only (POSIX): make the no-replace renames take a fallback, as on FUSE,
// where the system refuses a taken name itself and answers RENAME_NOREPLACE
// with EINVAL for a free one: `Link` (link, then
// unlink, as ntfs-3g), `Reservation` (no hard links either, as FUSE FAT and
// exFAT), or `None` to ask the system again.
enum class RenameFallback { None, Link, Reservation };
void setRenameFallbackForTesting(RenameFallback fallback);

// Test-only: false makes every FolderEntries made from then on look up each
// name, as where no watch can be trusted.
void setFolderWatchesForTesting(bool enabled);

// Windows, test-only: the bytes of changes a watch holds between two
// refreshes (1 MiB unless set), so that a test can overflow it.
void setFolderWatchBufferForTesting(unsigned long bytes);

} // namespace tavrin::platform::detail
