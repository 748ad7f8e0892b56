// What the OS-specific sources give the shared listing code.
#pragma once

#include "platform/fs.h"

#include <string>
#include <vector>

namespace tavrin::platform::detail {

// The names of the ordinary, non-hidden files of `folder`, in no order.
std::vector<std::string> ordinaryFileNames(const std::string& folder, Status* error);

// The non-hidden subfolders and the ordinary files of `folder`, in no order,
// from one reading of the folder. Either list may be null.
void readFolder(const std::string& folder, std::vector<std::string>* folders,
                std::vector<std::string>* files, Status* error);

// True when `folder` is the program folder itself, however it is written.
bool isProgramFolder(const std::string& folder);

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
// Reads from the current position to the end of the file.
Status readAll(FileHandle handle, std::string& content);
// Hands `data` to the system in one write (more only if the system takes part).
Status writeAll(FileHandle handle, std::string_view data);
// Cuts the file back to `size` bytes; later writes go on from there.
Status truncateTo(FileHandle handle, unsigned long long size);
// Makes what was written durable: the data and the size, on the disk.
Status syncData(FileHandle handle);
void closeHandle(FileHandle handle);

// POSIX: the no-replace rename for file systems that have neither
// RENAME_NOREPLACE nor hard links. It reserves `to` by creating it, then
// renames onto that empty file of its own.
Status renameByReservation(const std::string& from, const std::string& to);

// Test-only: false makes every FolderEntries made from then on look up each
// name, as where no watch can be trusted.
void setFolderWatchesForTesting(bool enabled);

// Windows, test-only: the bytes of changes a watch holds between two
// refreshes (1 MiB unless set), so that a test can overflow it.
void setFolderWatchBufferForTesting(unsigned long bytes);

} // namespace tavrin::platform::detail
