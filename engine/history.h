// Reading the history files and the restore pass.
#pragma once

#include "platform/fs.h"

#include <string>
#include <vector>

namespace tavrin {

// One pair of the history: the file now called `newName` in `folder` was
// called `oldName` before the run.
struct HistoryPair {
    std::string folder;
    std::string oldName;
    std::string newName;
};

struct HistoryRead {
    std::vector<HistoryPair> pairs; // in file order; folder lines are not listed
    bool ok = true;
    std::string path;   // the file that could not be read, when !ok
    std::string reason; // why
};

// A line of Old.ini is a folder line when it is "-" followed by an absolute
// folder path ending in the separator; every other line is a name line.
bool isFolderLine(const std::string& oldLine);

// Reads the history at OldIniPath and NewIniPath (the caller has set them) by
// file numbers 1 and 2. A last pair that was not completely written is left
// out: its rename was never tried. Missing files, unreadable bytes and a
// New.ini that ends early are failures.
HistoryRead ReadHistory();

struct RestoreFailure {
    HistoryPair pair;
    std::string reason;
};

struct RestoreResult {
    bool readOk = true;                 // false: the history could not be read; nothing renamed
    std::string path, reason;           // what could not be read, and why
    long restored = 0;                  // pairs whose files have their old names again
    std::vector<RestoreFailure> failed; // in history order; these stay in the history
    // With readOk: when set, the history could not be rewritten to hold only the
    // failed pairs and still holds every pair (restored ones count as restored
    // when the restore is tried again).
};

// Gives every recorded file its old name back, last rename first. Pairs that
// cannot be restored stay in the history, rewritten to hold only them; when
// none are left, both history files are deleted.
RestoreResult RestoreNames();

} // namespace tavrin
