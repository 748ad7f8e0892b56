// Reading the history files and the restore pass.
#pragma once

#include "platform/fs.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// One pair of the history: the file now called `newName` in `folder` was
// called `oldName` before the run.
struct HistoryPair {
    std::string folder;
    std::string oldName;
    std::string newName;
};

// The pairs of a history in file order, held compactly: their names in one
// buffer, each folder once for the pairs under it, so that a million pairs
// take little more room than their names.
class HistoryPairs {
public:
    std::size_t size() const { return bounds_.size() / 2; }
    bool empty() const { return bounds_.empty(); }

    std::string_view folder(std::size_t i) const;
    std::string_view oldName(std::size_t i) const { return name(2 * i); }
    std::string_view newName(std::size_t i) const { return name(2 * i + 1); }

    // Pair `i`, copied out; `into` keeps its strings' room from call to call.
    void copy(std::size_t i, HistoryPair& into) const;
    HistoryPair operator[](std::size_t i) const;

    // Room for names of `bytes` in all, so that reading a large history grows the buffer once.
    void reserve(std::size_t bytes) { names_.reserve(bytes); }
    void add(std::string_view folder, std::string_view oldName, std::string_view newName);
    void removeLast();

    // Walks the pairs in file order, each copied out as a HistoryPair.
    class Iterator {
    public:
        using value_type = HistoryPair;
        using difference_type = std::ptrdiff_t;
        Iterator(const HistoryPairs* pairs, std::size_t i) : pairs_(pairs), i_(i) {}
        HistoryPair operator*() const { return (*pairs_)[i_]; }
        Iterator& operator++() {
            ++i_;
            return *this;
        }
        Iterator operator++(int) { return {pairs_, i_++}; }
        bool operator==(const Iterator& other) const { return i_ == other.i_; }

    private:
        const HistoryPairs* pairs_;
        std::size_t i_;
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size()}; }

private:
    std::string_view name(std::size_t k) const {
        const std::size_t from = k == 0 ? 0 : bounds_[k - 1];
        return std::string_view(names_).substr(from, bounds_[k] - from);
    }

    std::string names_;                 // old and new name of each pair, in turn
    std::vector<std::size_t> bounds_;   // where each of those names ends
    std::vector<std::size_t> folderAt_; // the first pair under each folder
    std::vector<std::string> folders_;
};

struct HistoryRead {
    HistoryPairs pairs; // in file order; folder lines are not listed
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

// What a history may hold, so that reading one takes bounded memory: about
// four bytes for each byte of its two files and 32 for each line (the names
// read, the file's bytes and where each pair begins). A history beyond them
// is refused as damaged, and a run stops before it would write one.
struct HistoryLimits {
    // Each file: room for a run over two million files, or over a quarter of
    // a million names of the longest length a file system takes (255 bytes).
    std::uint64_t fileBytes = std::uint64_t{64} << 20;
    long lines = 1L << 21;
    // "-" and the longest path a system takes (32,767 UTF-16 units on
    // Windows), read as UTF-8: at most three bytes a unit.
    std::size_t lineBytes = 1 + 32767 * 3;
};
HistoryLimits historyLimits();
// Test-only: other limits; HistoryLimits{} restores them.
void setHistoryLimitsForTesting(const HistoryLimits& limits);

// Reads the history at OldIniPath and NewIniPath (the caller has set them):
// the pairs still to undo, in file order. A last pair that was not completely
// written is left out: its rename was never tried. Missing files, lines that
// do not end in CR LF, a first line that is not a folder line, a folder line
// with a control character, a pair that names one file twice, unreadable
// bytes, folder lines out of step (New.ini must have the same folder lines
// at the same places), a history beyond its limits and a New.ini that ends
// early are failures, and so is a shortage of memory. Writes nothing.
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
        LookFailed, // a file could not be looked at or tidied: the pass stopped there
        NotDeleted, // every pair restored, but the history could not be deleted
    };
    Problem problem = Problem::None;
    std::string path, reason;           // with a problem: which file, and why
    long restored = 0;                  // pairs whose files have their old names again
    std::vector<RestoreFailure> failed; // in history order; these stay in the history
};

// Gives every recorded file its old name back, last rename first, cutting
// each batch of pairs off the history once it has been dealt with, so the
// history always names exactly the pairs still to undo. Only plain names
// inside the recorded folder are renamed. Pairs that cannot be restored stay
// in the history; when none are left, both history files are deleted. One
// process at a time: the history is locked for the whole pass.
RestoreResult RestoreNames();

// The words for an exception that ended an operation: a shortage of memory
// in Japanese, anything else as it tells itself.
std::string failureReason(const std::exception& e);

// Test-only: the restore's batches end after `pairs` pairs instead of after
// a time, so that tests know where they end (0: by time again).
void setRestoreBatchLimitForTesting(long pairs);

} // namespace tavrin
