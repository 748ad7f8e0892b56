// Text files by number, as the history uses them: lines in the history code
// page, each ending in CR LF. A line written goes to the system at once, so it
// survives a killed process; lines can also be queued and handed over together,
// and a file can be made durable, so that its lines survive a power cut.
#pragma once

#include "platform/fs.h"

#include <cstdint>
#include <limits>
#include <string>

namespace tavrin::platform::textfile {

// Output creates a missing file and empties an existing one; Input reads an
// existing file; Update reads an existing file and can cut it back.
enum class Mode { Output, Input, Update };

// Opens `path` as file `number`; a link at `path` is refused, not followed. A
// number that is open already cannot be opened again. Input and Update read
// the whole file at once: one of more than `maxBytes` is refused unread.
Status open(int number, const std::string& path, Mode mode,
            std::uint64_t maxBytes = std::numeric_limits<std::uint64_t>::max());

// Writes `utf8` and CR LF in one write, after any queued lines. Fails,
// writing nothing, when the text cannot be represented in the history code
// page or holds a line break.
Status writeLine(int number, std::string_view utf8);

// Adds `utf8` and CR LF to the lines waiting for the next flush; refuses what
// writeLine refuses, queueing nothing.
Status queueLine(int number, std::string_view utf8);

// Hands the queued lines to the system in one write.
Status flush(int number);

// Flushes, then makes the file's data and size durable (fdatasync on POSIX,
// FlushFileBuffers on Windows).
Status sync(int number);

// The size of an output or update file, queued lines included, and cutting it
// back to a smaller size (queued lines first): the run withdraws the pairs
// whose renames did not happen, the restore cuts off each pair it has dealt with.
std::uint64_t size(int number);
Status truncate(int number, std::uint64_t size);

// Reads the next line without its CR LF. `complete` tells whether the line
// ended in CR LF (a last line cut short by a killed writer does not).
Status readLine(int number, std::string& utf8, bool* complete = nullptr);

// Where the next line of an input or update file begins, in bytes.
std::uint64_t position(int number);

// True when an input file has no more lines.
bool atEnd(int number);

// Closes file `number`, handing queued lines to the system first; closing a
// number that is not open does nothing.
void close(int number);

bool isOpen(int number);

} // namespace tavrin::platform::textfile
