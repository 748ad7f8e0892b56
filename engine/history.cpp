#include "engine/history.h"
#include "engine/history_files.h"
#include "engine/tavrinM.h"
#include "platform/name_hashes.h"
#include "platform/textfile.h"
#include "platform/unicode.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <optional>

namespace tavrin {

namespace {

namespace tf = platform::textfile;
using history::newFile;
using history::newKeptFile;
using history::oldFile;
using history::oldKeptFile;
using Problem = RestoreResult::Problem;

const char* const msgUnusable = "ファイル名として使えない名前です";
const char* const msgUnpaired = "New.ini に対になる名前がありません";

// How many pairs a restore deals with before it makes them durable and cuts
// them off together, at most, and for how long.
constexpr long batchPairs = 4096;
constexpr auto batchTime = std::chrono::milliseconds(16);
// The clock is read once every so many pairs, not for each.
constexpr long clockEvery = 16;
long batchLimit = 0; // test-only: pairs per batch instead of the time

// The kept files of one pass: the pairs it could not restore, in the order it
// met them. They are queued, then written and made durable with their batch.
class KeptPairs {
public:
    explicit KeptPairs(const history::Files& files) : files_(files) {}
    ~KeptPairs() { close(); }

    bool any() const { return opened_; }

    // Queues a pair. The kept files are created, durably, with the first.
    platform::Status add(std::string_view folder, std::string_view oldName,
                         std::string_view newName, std::string& failedPath) {
        failedPath = files_.oldKept;
        if (!opened_) {
            for (const auto& [number, path] : {std::pair{oldKeptFile, &files_.oldKept},
                                               std::pair{newKeptFile, &files_.newKept}}) {
                if (auto s = tf::open(number, *path, tf::Mode::Output); !s.ok()) {
                    close();
                    return s;
                }
            }
            opened_ = true;
            if (auto s = platform::syncFolder(platform::historyFolder()); !s.ok()) {
                return s;
            }
        }
        platform::Status s;
        if (folder != folder_) {
            const std::string line = "-" + std::string(folder);
            s = queueBoth(line, line);
            folder_ = s.ok() ? folder : std::string_view();
        }
        s = s.ok() ? queueBoth(oldName, newName) : s;
        queued_ = queued_ || s.ok();
        return s;
    }

    // Writes the queued pairs and makes them durable, so that they survive a
    // power cut once they leave Old.ini: New.ini.kept first, so that
    // Old.ini.kept never holds a pair whose partner a power cut could take.
    platform::Status makeDurable(std::string& failedPath) {
        if (!queued_) {
            return platform::Status::success();
        }
        for (const auto& [number, path] :
             {std::pair{newKeptFile, &files_.newKept}, std::pair{oldKeptFile, &files_.oldKept}}) {
            failedPath = *path;
            if (auto s = tf::sync(number); !s.ok()) {
                return s;
            }
        }
        queued_ = false;
        return platform::Status::success();
    }

    void close() {
        tf::close(oldKeptFile);
        tf::close(newKeptFile);
    }

private:
    platform::Status queueBoth(std::string_view oldLine, std::string_view newLine) {
        platform::Status s = tf::queueLine(oldKeptFile, oldLine);
        return s.ok() ? tf::queueLine(newKeptFile, newLine) : s;
    }

    const history::Files& files_;
    bool opened_ = false;
    bool queued_ = false;
    std::string_view folder_; // into the pairs being restored
};

// Cuts a pair, and whatever follows it, off both history files, once the
// renames of the pass are durable. Old.ini goes first: a New.ini line left
// over at the end is ignored by the readers. Its cut is made durable before
// New.ini is cut where the history's file system may not keep the two cuts
// in order (`ordered` false), as a power cut could then keep New.ini's alone
// and leave Old.ini lines without partners; and where a folder had to be
// synced for the batch, so that no later rename into a name these pairs
// freed can outlast the cut.
platform::Status cutOff(const history::PairStart& pair, history::UserFolders& folders, bool ordered,
                        std::string& failedPath) {
    bool synced = false;
    if (auto s = folders.makeDurable(failedPath, &synced); !s.ok()) {
        return s;
    }
    failedPath = tavrinM::OldIniPath;
    platform::Status s = tf::truncate(oldFile, pair.oldStart);
    if (s.ok() && (synced || !ordered)) {
        s = tf::sync(oldFile);
    }
    if (!s.ok()) {
        return s;
    }
    failedPath = tavrinM::NewIniPath;
    return tf::truncate(newFile, pair.newStart);
}

enum class Outcome { Restored, Kept, Stopped };

// Gives the file of `pair` its old name back. Restored when it has it:
// renamed now, or found as it was (a restore stopped between a rename and its
// cut, a run stopped between recording a pair and renaming its file), or
// beside a leftover of a rename cut short on a file system without a
// no-replace rename, removed once proved the program's own: a second name of
// the file, or a marked reservation of the new name or, by a restore, of the
// old one. Kept, with `reason`, when it cannot be restored. Stopped, with
// `failedPath` and `reason`, when a look or a tidy fails: nothing is known of
// the pair then. The rename goes within `held`, the folder held open; a
// failed one is looked into by the pair's new and old paths in `folder`, which
// `from` and `to` then take.
Outcome restoreOne(std::string_view oldName, std::string_view newName, const std::string& folder,
                   platform::HeldFolder& held, std::string& from, std::string& to,
                   std::string& reason, std::string& failedPath) {
    if (newName.empty()) {
        reason = msgUnpaired;
        return Outcome::Kept;
    }
    if (!isUsableName(oldName) || !isUsableName(newName)) {
        reason = msgUnusable;
        return Outcome::Kept;
    }
    const auto stop = [&](const platform::Status& s) {
        reason = s.reason;
        return Outcome::Stopped;
    };
    for (bool again = false;; again = true) {
        const platform::Status renamed = held.rename(newName, oldName);
        if (renamed.ok()) {
            return Outcome::Restored;
        }
        reason = renamed.reason;
        from.assign(folder).append(newName);
        to.assign(folder).append(oldName);
        // A folder that is not there (moved or deleted by the user) holds
        // neither name nor anything to tidy: one look keeps the pair, where a
        // folder of many pairs would otherwise cost four looks each. A failed
        // look proves nothing and takes the long way.
        platform::Status folderLook;
        if (!again && platform::entryKind(folder, &folderLook) == platform::EntryKind::None &&
            folderLook.ok()) {
            return Outcome::Kept;
        }
        if (auto s = platform::tidyAsides(from, to, failedPath); !s.ok()) {
            return stop(s);
        }
        bool fromThere = false, toThere = false;
        if (auto s = platform::entriesExist(from, to, fromThere, toThere, failedPath); !s.ok()) {
            return stop(s);
        }
        if (!fromThere && toThere) {
            return Outcome::Restored;
        }
        if (!fromThere || again) {
            return Outcome::Kept;
        }
        if (!toThere) {
            continue; // the old name was freed meanwhile, as by settling a reservation
        }
        if (!renamed.targetExists()) {
            return Outcome::Kept;
        }
        bool removed = false;
        if (auto s = platform::removeOwnLeftover(from, to, removed, failedPath); !s.ok()) {
            return stop(s);
        }
        if (removed) {
            return Outcome::Restored;
        }
        if (auto s = platform::removeOwnLeftover(to, from, removed, failedPath); !s.ok()) {
            return stop(s);
        }
        if (!removed) {
            return Outcome::Kept;
        }
        // The old name was free but for a restore's reservation: once more.
    }
}

RestoreResult withProblem(RestoreResult result, Problem problem, const std::string& path,
                          std::string reason) {
    result.problem = problem;
    result.path = path;
    result.reason = std::move(reason);
    return result;
}

} // namespace

std::string_view HistoryPairs::folder(std::size_t i) const {
    // The last folder whose first pair is at or before pair i.
    const auto after = std::upper_bound(folderAt_.begin(), folderAt_.end(), i);
    return folders_[static_cast<std::size_t>(after - folderAt_.begin()) - 1];
}

void HistoryPairs::copy(std::size_t i, HistoryPair& into) const {
    into.folder.assign(folder(i));
    into.oldName.assign(oldName(i));
    into.newName.assign(newName(i));
}

HistoryPair HistoryPairs::operator[](std::size_t i) const {
    HistoryPair pair;
    copy(i, pair);
    return pair;
}

void HistoryPairs::add(std::string_view folder, std::string_view oldName,
                       std::string_view newName) {
    if (folders_.empty() || folders_.back() != folder) {
        folderAt_.push_back(size());
        folders_.emplace_back(folder);
    }
    names_ += oldName;
    bounds_.push_back(names_.size());
    names_ += newName;
    bounds_.push_back(names_.size());
}

void HistoryPairs::removeLast() {
    bounds_.resize(bounds_.size() - 2);
    names_.resize(bounds_.empty() ? 0 : bounds_.back());
    if (folderAt_.back() == size()) {
        folderAt_.pop_back();
        folders_.pop_back();
    }
}

bool isFolderLine(const std::string& oldLine) {
    return oldLine.size() > 1 && oldLine.front() == '-' &&
           platform::isAbsoluteFolder(std::string_view(oldLine).substr(1));
}

bool isUsableName(std::string_view name) {
    return platform::isPlainName(name) && std::none_of(name.begin(), name.end(), [](char ch) {
               const auto c = static_cast<unsigned char>(ch);
               return c < 0x20 || c == 0x7F;
           });
}

namespace {

// Closes every history file a failed pass may have left open.
void closeAll() {
    for (const int number : {oldFile, newFile, oldKeptFile, newKeptFile}) {
        tf::close(number);
    }
}

void restoreNames(RestoreResult& result) {
    using namespace tavrinM;
    platform::FolderLock lock;
    if (auto s = lock.acquire(platform::historyFolder()); !s.ok()) {
        result = withProblem(result, Problem::Refused, OldIniPath, s.reason);
        return;
    }
    // Most often there is nothing to settle, and the history is read once.
    // Otherwise it is read first as it stands, so that a history that cannot
    // be read is left as it is, then settled, and read again to be cut.
    std::string failedPath;
    bool answered = false, refused = false;
    history::Parsed history = history::openIfSettled(answered, refused);
    if (answered) {
        result = withProblem(result, refused ? Problem::Refused : Problem::Unreadable, history.path,
                             history.reason);
        return;
    }
    if (!history.ok) {
        if (const HistoryRead current = history::readCurrent(); !current.ok) {
            result = withProblem(result, Problem::Unreadable, current.path, current.reason);
            return;
        }
        if (auto s = history::settle(true, failedPath); !s.ok()) {
            result = withProblem(result, Problem::Refused, failedPath, s.reason);
            return;
        }
        bool cannotChange = false;
        history = history::openForRestore(cannotChange);
        if (!history.ok) {
            result = withProblem(result, cannotChange ? Problem::Refused : Problem::Unreadable,
                                 history.path, history.reason);
            return;
        }
    }

    // Last rename first, so a file that took a name another had just left
    // comes back right. Pairs go in batches: the batch's renames and the
    // pairs it keeps (those it cannot restore) are made durable, then the
    // whole batch is cut off the history at once. A batch ends before a pair
    // whose old name a pair of the batch has just freed, so that a pair left
    // uncut by a kill still reads as restored.
    const history::Files files = history::files();
    KeptPairs kept(files);
    history::UserFolders folders;
    const bool ordered =
        platform::keepsOrderWith(platform::historyFolder(), platform::historyFolder());
    std::size_t first = 0; // the batch's earliest pair, while `batchSize` > 0
    long batchSize = 0;
    // The names the batch's pairs freed, as hashes of their folded paths: a
    // hash shared by chance ends a batch early, which is safe.
    platform::detail::NameHashes freed;
    auto batchStart = std::chrono::steady_clock::now();
    const auto cutBatch = [&] {
        if (batchSize == 0) {
            return true;
        }
        platform::Status s = kept.makeDurable(failedPath);
        if (s.ok()) {
            s = cutOff(history.starts[first], folders, ordered, failedPath);
        }
        if (!s.ok()) {
            result = withProblem(std::move(result), Problem::Stopped, failedPath, s.reason);
            return false;
        }
        batchSize = 0;
        freed.clear();
        batchStart = std::chrono::steady_clock::now();
        return true;
    };
    const auto batchFull = [&] {
        return batchLimit > 0 ? batchSize >= batchLimit
                              : batchSize >= batchPairs ||
                                    (batchSize % clockEvery == 0 && batchSize > 0 &&
                                     std::chrono::steady_clock::now() - batchStart >= batchTime);
    };
    // Reused from pair to pair, so that the walk allocates little per pair.
    std::string reason, from, to, lookPath;
    std::uint64_t folderHash = 0;
    std::optional<platform::HeldFolder> held; // the folder of the pair in hand
    std::string_view current;                 // the folder of the pair before, as the pairs hold it
    std::size_t at = history.pairs.size();    // the pair in hand
    for (std::size_t i = history.pairs.size(); i-- > 0;) {
        at = i;
        const std::string_view folder = history.pairs.folder(i);
        const std::string_view oldName = history.pairs.oldName(i);
        const std::string_view newName = history.pairs.newName(i);
        if (folder.data() != current.data()) {
            current = folder;
            FolderPath.assign(folder);
            folderHash = platform::foldedKeyHash(folder);
            held.emplace(FolderPath);
        }
        if ((freed.contains(platform::foldedKeyHash(oldName, folderHash)) || batchFull()) &&
            !cutBatch()) {
            break;
        }
        const Outcome outcome =
            restoreOne(oldName, newName, FolderPath, *held, from, to, reason, lookPath);
        if (outcome == Outcome::Restored) {
            folders.renamedIn(FolderPath);
            ++result.restored;
            freed.insert(platform::foldedKeyHash(newName, folderHash));
        } else if (outcome == Outcome::Stopped) {
            // What the batch restored so far is cut off first: the history
            // then names exactly the pairs still to undo.
            if (cutBatch()) {
                result = withProblem(std::move(result), Problem::LookFailed, lookPath, reason);
            }
            break;
        } else if (auto s = kept.add(folder, oldName, newName, failedPath); s.ok()) {
            result.failed.push_back(
                {{std::string(folder), std::string(oldName), std::string(newName)}, reason});
        } else {
            result = withProblem(std::move(result), Problem::Stopped, failedPath, s.reason);
            break;
        }
        first = i;
        ++batchSize;
    }
    if (at < history.pairs.size()) {
        // The state holds the last pair dealt with, as the walk leaves it.
        OldName.assign(history.pairs.oldName(at));
        NewName.assign(history.pairs.newName(at));
    }
    if (result.problem == Problem::None) {
        cutBatch();
    }
    kept.close();
    tf::close(oldFile);
    tf::close(newFile);
    std::reverse(result.failed.begin(), result.failed.end());

    if (kept.any()) {
        // The kept pairs become the history. Should that fail, they are still
        // read from the kept files, and the next restore tries again.
        history::settle(true, failedPath);
    } else if (result.problem == Problem::None) {
        if (auto s = KillHistory(); !s.ok()) {
            platform::Status lookFailed;
            const std::string path =
                platform::entryExists(NewIniPath, &lookFailed) || !lookFailed.ok() ? NewIniPath
                                                                                   : OldIniPath;
            result = withProblem(std::move(result), Problem::NotDeleted, path, s.reason);
        }
    }
}

} // namespace

// A shortage of memory ends the reading or the pass with a failure, never the
// program: the history files are closed again, and what is on disk stays a
// history that can be read and restored.
HistoryRead ReadHistory() {
    try {
        return history::readCurrent();
    } catch (const std::exception& e) {
        closeAll();
        HistoryRead read;
        read.ok = false;
        read.path = tavrinM::OldIniPath;
        read.reason = failureReason(e);
        return read;
    }
}

RestoreResult RestoreNames() {
    RestoreResult result;
    try {
        restoreNames(result);
    } catch (const std::exception& e) {
        closeAll();
        const bool started = result.restored > 0 || !result.failed.empty();
        result = withProblem(std::move(result), started ? Problem::Stopped : Problem::Unreadable,
                             tavrinM::OldIniPath, failureReason(e));
    }
    return result;
}

std::string failureReason(const std::exception& e) {
    return dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "メモリが足りません"
                                                              : std::string(e.what());
}

void setRestoreBatchLimitForTesting(long pairs) {
    batchLimit = pairs;
}

} // namespace tavrin
