// The system calls a rename run stands on, one file per OS, so that the
// benchmark compares the run with them in the same process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::bench {

// The new name rawLoop gives names[i], and where its pair begins in each history file.
struct RawPair {
    std::string newName;
    std::uint64_t oldStart = 0, newStart = 0;
};

inline std::vector<RawPair> rawPairs(const std::string& folder,
                                     const std::vector<std::string>& names) {
    std::vector<RawPair> pairs;
    pairs.reserve(names.size());
    std::uint64_t oldSize = folder.size() + 3, newSize = oldSize; // "-" folder CR LF
    for (std::size_t i = 0; i < names.size(); ++i) {
        pairs.push_back({"raw" + std::to_string(i) + ".dat", oldSize, newSize});
        oldSize += names[i].size() + 2;
        newSize += pairs.back().newName.size() + 2;
    }
    return pairs;
}

// How the raw loop writes and renames, for the report.
extern const char* const rawCalls;

// Writes the history's folder line, then for each name its two lines and a
// no-replace rename to "raw<i>.dat", as a run does with nothing around the
// calls; the seconds it took, or a negative number when a call failed.
double rawLoop(const std::string& folder, const std::vector<std::string>& names,
               const std::string& prog);

// Undoes what rawLoop did, as a restore does it with nothing around the calls:
// last name first, a no-replace rename back, then both history files cut back
// by that pair; deletes the history at the end. Seconds, or negative on failure.
double rawRestore(const std::string& folder, const std::vector<std::string>& names,
                  const std::string& prog);

// The floor under a run or a restore: one no-replace rename per file, from[i]
// to to[i] in turn, and nothing else (no record, no sync). The full paths are
// made before the clock starts. Seconds, or negative when a rename failed.
double bareRenames(const std::vector<std::string>& from, const std::vector<std::string>& to);

// The same within `folder` held open: each name is renamed relative to the
// folder, so the system walks no path but the name, as a run renames. Where
// renames go by path (Windows), the same as bareRenames.
double bareRenamesIn(const std::string& folder, const std::vector<std::string>& from,
                     const std::vector<std::string>& to);

// The processor time the process has used so far, user and system, all threads.
double processorSeconds();

bool createEmptyFile(const std::string& path);

long processId();

} // namespace tavrin::bench
