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

// A name a rename may give or take: one entry of its folder (isPlainName),
// without control characters. Names read from a history pass the same test
// as typed ones.
bool isUsableName(std::string_view name);

// Reads the history at OldIniPath and NewIniPath (the caller has set them):
// the pairs still to undo, in file order. A last pair that was not completely
// written is left out: its rename was never tried. Missing files, lines that
// do not end in CR LF, a first line that is not a folder line, unreadable
// bytes and a New.ini that ends early are failures. Writes nothing.
HistoryRead ReadHistory();

struct RestoreFailure {
    HistoryPair pair;
    std::string reason;
};

struct RestoreResult {
    enum class Problem {
        None,
        Unreadable, // the history could not be read: nothing renamed
        Refused,    // the history could not be locked or changed: nothing renamed
        Stopped,    // the history could not record more progress: the pass stopped there
        NotDeleted, // every pair restored, but the history could not be deleted
    };
    Problem problem = Problem::None;
    std::string path, reason;           // with a problem: which file, and why
    long restored = 0;                  // pairs whose files have their old names again
    std::vector<RestoreFailure> failed; // in history order; these stay in the history
};

// Gives every recorded file its old name back, last rename first, cutting
// each pair off the history once it has been dealt with, so the history
// always names exactly the pairs still to undo. Only plain names inside the
// recorded folder are renamed. Pairs that cannot be restored stay in the
// history; when none are left, both history files are deleted. One process
// at a time: the history is locked for the whole pass.
RestoreResult RestoreNames();

} // namespace tavrin
