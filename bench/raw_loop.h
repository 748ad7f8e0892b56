// The system calls a rename run stands on, one file per OS, so that the
// benchmark compares the run with them in the same process.
#pragma once

#include <string>
#include <vector>

namespace tavrin::bench {

// How the raw loop writes and renames, for the report.
extern const char* const rawCalls;

// Writes the history's folder line, then for each name its two lines and a
// no-replace rename to "raw<i>.dat", as a run does with nothing around the
// calls; the seconds it took, or a negative number when a call failed.
double rawLoop(const std::string& folder, const std::vector<std::string>& names,
               const std::string& prog);

bool createEmptyFile(const std::string& path);

long processId();

} // namespace tavrin::bench
