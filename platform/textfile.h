// Text files by number, as the history uses them: lines in the history code
// page, each ending in CR LF. Output goes to the system in one write per line,
// so a line that was written survives a killed process.
#pragma once

#include "platform/fs.h"

#include <cstdint>
#include <string>

namespace tavrin::platform::textfile {

// Output creates a missing file and empties an existing one; Input reads an
// existing file; Update reads an existing file and can cut it back.
enum class Mode { Output, Input, Update };

// Opens `path` as file `number`; a link at `path` is refused, not followed. A
// number that is open already cannot be opened again.
Status open(int number, const std::string& path, Mode mode);

// Writes `utf8` and CR LF in one write. Fails, writing nothing, when the text
// cannot be represented in the history code page.
Status writeLine(int number, std::string_view utf8);

// The size of an output or update file, and cutting it back to a smaller size:
// the run withdraws a pair whose rename failed, the restore cuts off each pair
// it has dealt with.
std::uint64_t size(int number);
Status truncate(int number, std::uint64_t size);

// Reads the next line without its CR LF. `complete` tells whether the line
// ended in CR LF (a last line cut short by a killed writer does not).
Status readLine(int number, std::string& utf8, bool* complete = nullptr);

// Where the next line of an input or update file begins, in bytes.
std::uint64_t position(int number);

// True when an input file has no more lines.
bool atEnd(int number);

// Closes file `number`; closing a number that is not open does nothing.
void close(int number);

bool isOpen(int number);

} // namespace tavrin::platform::textfile
