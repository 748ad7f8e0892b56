// Where the history files live: beside the program when the user may write
// there, else in the user's own folder for program data.
//
// Both folders can hold a history: the program folder was writable for one run
// and not for a later one, or the other way round. The undo must always undo
// the last run, so each folder may hold a generation file, a number that only
// grows: the folder with the higher one holds the last run's history, and the
// other folder's history is one a later run replaced, never read again. No
// file times are trusted for this (FAT keeps them to 2 s, clocks are set back,
// a restore's cut changes them), and the number outlives the newer history:
// once that is undone, the older one is still known as replaced.
//
// - The folder of the last history is used while it is writable.
// - Where it is not, its history is copied into the other folder, which then
//   takes the next number: the undo and the next run work on the copy. Until
//   the new number is written, the copy is of the lower generation and counts
//   for nothing, so a copy cut short is made again at the next start.
// - Where no history is left (it was undone), the program folder is used again
//   if it is writable and holds no replaced history, taking the next number.
// - A replaced history is left where it is, until a run replacing its own
//   history removes it (removeReplacedHistory), or until the program folder
//   is used again while the user's folder cannot be written.
// - Histories written before there were generation files: the folder whose
//   files were written last holds the last run (the program folder when that
//   cannot be told), and it takes the first number.
// - A generation file that cannot be read: nothing is written, and the choice
//   is the one made before there were generation files.
#include "platform/fs.h"
#include "platform/fs_internal.h"

#include <chrono>
#include <filesystem>
#include <optional>

namespace tavrin::platform {

namespace {

std::optional<std::string> chosen;
std::string stateOverride;
bool programOverridden = false;
std::string replaced; // the folder of a history the chosen one replaced

std::string inFolder(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (path.empty() || path.back() != separator()) {
        path += separator();
    }
    return path + std::string(name);
}

// The files a run leaves: a history, and the pending and kept files of one cut short.
std::vector<std::string> historyFileNames() {
    std::vector<std::string> names;
    for (const std::string_view name : {oldHistoryName, newHistoryName}) {
        for (const std::string_view suffix : {std::string_view(), pendingSuffix, keptSuffix}) {
            names.push_back(std::string(name) + std::string(suffix));
        }
    }
    return names;
}

struct Side {
    std::string folder;
    bool user = false;        // the user's folder, made when first written to
    bool holds = false;       // holds history files, or may: a failed look counts
    long long generation = 0; // 0 without a generation file
    bool generationRead = true;
    std::optional<bool> writable;
};

bool holdsHistory(const std::string& folder) {
    for (const std::string& name : historyFileNames()) {
        Status error;
        if (entryExists(inFolder(folder, name), &error) || !error.ok()) {
            return true;
        }
    }
    return false;
}

// The number in the generation file; 0 when there is none, nullopt when it
// cannot be read or holds anything else, or more digits than a number holds.
std::optional<long long> readGeneration(const std::string& folder) {
    const std::string path = inFolder(folder, generationFileName);
    Status error;
    if (!entryExists(path, &error)) {
        return error.ok() ? std::optional<long long>(0) : std::nullopt;
    }
    const detail::FileHandle handle = detail::openForInput(path, &error);
    if (handle == detail::invalidHandle) {
        return std::nullopt;
    }
    std::string text;
    const Status read = detail::readAll(handle, text);
    detail::closeHandle(handle);
    std::size_t digits = !text.empty() && text.front() == '-' ? 1 : 0;
    if (!read.ok() || text.size() <= digits || text.size() - digits > 18) {
        return std::nullopt;
    }
    long long value = 0;
    for (; digits < text.size(); ++digits) {
        if (text[digits] < '0' || text[digits] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[digits] - '0');
    }
    return text.front() == '-' ? -value : value;
}

// Replaces the generation file durably: a file of its own, then moved into place.
Status writeGeneration(const std::string& folder, long long generation) {
    const std::string path = inFolder(folder, generationFileName);
    const std::string pending = path + std::string(pendingSuffix);
    Status error;
    const detail::FileHandle handle = detail::openForOutput(pending, &error);
    if (handle == detail::invalidHandle) {
        return error;
    }
    std::size_t written = 0;
    Status s = detail::writeAll(handle, std::to_string(generation), written);
    if (s.ok()) {
        s = detail::syncData(handle);
    }
    detail::closeHandle(handle);
    if (s.ok()) {
        s = replaceFile(pending, path);
    }
    return s.ok() ? syncFolder(folder) : s;
}

// Gives `to` the same history files as `from`, each made durable.
Status copyHistory(const std::string& from, const std::string& to) {
    for (const std::string& name : historyFileNames()) {
        const std::string source = inFolder(from, name), target = inFolder(to, name);
        Status s;
        if (!entryExists(source, &s)) {
            s = s.ok() ? removeFile(target) : s;
        } else {
            std::string content;
            const detail::FileHandle in = detail::openForInput(source, &s);
            if (in != detail::invalidHandle) {
                s = detail::readAll(in, content);
                detail::closeHandle(in);
            }
            const detail::FileHandle out =
                s.ok() ? detail::openForOutput(target, &s) : detail::invalidHandle;
            if (out != detail::invalidHandle) {
                std::size_t written = 0;
                s = detail::writeAll(out, content, written);
                s = s.ok() ? detail::syncData(out) : s;
                detail::closeHandle(out);
            }
        }
        if (!s.ok()) {
            return s;
        }
    }
    return syncFolder(to);
}

Status removeHistory(const std::string& folder) {
    for (const std::string& name : historyFileNames()) {
        if (Status s = removeFile(inFolder(folder, name)); !s.ok()) {
            return s;
        }
    }
    return Status::success();
}

// The time the newest of the history files was written; the oldest possible
// time when none can be looked at.
std::filesystem::file_time_type lastWritten(const std::string& folder) {
    auto newest = std::filesystem::file_time_type::min();
    for (const std::string& name : historyFileNames()) {
        const std::string path = inFolder(folder, name);
        std::error_code ec;
        const auto time =
            std::filesystem::last_write_time(std::u8string(path.begin(), path.end()), ec);
        if (!ec && time > newest) {
            newest = time;
        }
    }
    return newest;
}

// Whether this user can create files in `side`'s folder; the user's is made first.
bool writable(Side& side) {
    if (!side.writable) {
        side.writable =
            (!side.user || entryExists(side.folder) || detail::makeFolders(side.folder).ok()) &&
            detail::canCreateFileIn(side.folder);
    }
    return *side.writable;
}

// The rule before there were generation files: the program folder while it is
// writable and holds a history or the user's folder holds none.
std::string firstRule(Side& program, Side& state) {
    if (writable(program) && (program.holds || !state.holds)) {
        return program.folder;
    }
    // A failure here shows when the history is written, with this path.
    [[maybe_unused]] const Status made = detail::makeFolders(state.folder);
    return state.folder;
}

std::string choose(Side& program, Side& state) {
    if (!program.generationRead || !state.generationRead) {
        return firstRule(program, state);
    }
    // The folder of the last run's history.
    bool programLast = program.generation > state.generation;
    if (program.generation == state.generation) {
        programLast = program.holds && state.holds
                          ? lastWritten(program.folder) >= lastWritten(state.folder)
                          : program.holds || !state.holds;
    }
    Side& last = programLast ? program : state;
    Side& other = programLast ? state : program;
    const long long next = std::max(program.generation, state.generation) + 1;
    if (last.holds) {
        if (writable(last)) {
            // Two histories from before the generation files: this one came last.
            if (other.holds && last.generation == other.generation &&
                writeGeneration(last.folder, next).ok()) {
                last.generation = next;
            }
            return last.folder;
        }
        // Copied under a lower number first, so that a copy cut short counts for nothing.
        if (writable(other) &&
            (other.generation < last.generation ||
             writeGeneration(other.folder, last.generation - 1).ok()) &&
            copyHistory(last.folder, other.folder).ok() &&
            writeGeneration(other.folder, next).ok()) {
            other.generation = next;
            return other.folder;
        }
        return last.folder;
    }
    // Nothing left to undo: beside the program again where it is writable.
    // With no generation files there is nothing to write yet.
    Side& preferred = writable(program) ? program : state;
    if (&preferred == &last || preferred.generation == last.generation) {
        writable(preferred); // makes the user's folder; a failure shows when it is written
        return preferred.folder;
    }
    if (writable(last) && preferred.holds) {
        return last.folder; // a replaced history stays until a run replaces it
    }
    if (writable(preferred) && (!preferred.holds || removeHistory(preferred.folder).ok()) &&
        writeGeneration(preferred.folder, next).ok()) {
        preferred.generation = next;
        return preferred.folder;
    }
    return last.folder;
}

} // namespace

namespace detail {

std::string chooseHistoryFolder(const std::string& program, const std::string& state) {
    replaced.clear();
    if (state.empty()) {
        return program;
    }
    const auto look = [&state](const std::string& folder) {
        Side side;
        side.folder = folder;
        side.user = &folder == &state;
        side.holds = holdsHistory(folder);
        const std::optional<long long> generation = readGeneration(folder);
        side.generationRead = generation.has_value();
        side.generation = generation.value_or(0);
        return side;
    };
    Side sides[2] = {look(program), look(state)};
    const std::string folder = choose(sides[0], sides[1]);
    const Side& chosenSide = folder == program ? sides[0] : sides[1];
    const Side& otherSide = folder == program ? sides[1] : sides[0];
    if (chosenSide.generationRead && otherSide.generationRead &&
        chosenSide.generation > otherSide.generation) {
        replaced = otherSide.folder;
    }
    return folder;
}

void programFolderChangedForTesting(bool overridden) {
    programOverridden = overridden;
    chosen.reset();
}

} // namespace detail

std::string userStateFolder() {
    return stateOverride.empty() ? detail::systemStateFolder() : stateOverride;
}

void setUserStateFolderForTesting(const std::string& folder) {
    stateOverride = folder;
    chosen.reset();
}

std::string historyFolder() {
    if (!chosen) {
        replaced.clear();
        // Tests that point the program elsewhere keep the history there too,
        // never in the real user's folder.
        chosen = programOverridden && stateOverride.empty()
                     ? programFolder()
                     : detail::chooseHistoryFolder(programFolder(), userStateFolder());
    }
    return *chosen;
}

void removeReplacedHistory() {
    if (chosen && !replaced.empty()) {
        [[maybe_unused]] const Status removed = removeHistory(replaced);
    }
}

} // namespace tavrin::platform
