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

// Plain file handles for the numbered text files.
using FileHandle = long long;
constexpr FileHandle invalidHandle = -1;

// Creates or empties `path` for writing.
FileHandle openForOutput(const std::string& path, Status* error);
// Hands `data` to the system in one write (more only if the system takes part).
Status writeAll(FileHandle handle, std::string_view data);
// Cuts the file back to `size` bytes; later writes go on from there.
Status truncateTo(FileHandle handle, unsigned long long size);
void closeHandle(FileHandle handle);
// Reads a whole file.
Status readWholeFile(const std::string& path, std::string& content);

} // namespace tavrin::platform::detail
