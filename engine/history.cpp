#include "engine/history.h"
#include "engine/history_files.h"
#include "engine/tavrinM.h"
#include "platform/textfile.h"

#include <algorithm>

namespace tavrin {

namespace {

namespace tf = platform::textfile;
using history::newFile;
using history::newKeptFile;
using history::oldFile;
using history::oldKeptFile;
using Problem = RestoreResult::Problem;

// The kept files of one pass: the pairs it could not restore, in the order it met them.
class KeptPairs {
public:
    explicit KeptPairs(const history::Files& files) : files_(files) {}
    ~KeptPairs() { close(); }

    bool any() const { return opened_; }

    platform::Status add(const HistoryPair& pair) {
        if (!opened_) {
            for (const auto& [number, path] : {std::pair{oldKeptFile, &files_.oldKept},
                                               std::pair{newKeptFile, &files_.newKept}}) {
                if (auto s = tf::open(number, *path, tf::Mode::Output); !s.ok()) {
                    close();
                    return s;
                }
            }
            opened_ = true;
        }
        platform::Status s;
        if (pair.folder != folder_) {
            s = writeBoth("-" + pair.folder, "-" + pair.folder);
            folder_ = s.ok() ? pair.folder : std::string();
        }
        return s.ok() ? writeBoth(pair.oldName, pair.newName) : s;
    }

    void close() {
        tf::close(oldKeptFile);
        tf::close(newKeptFile);
    }

private:
    platform::Status writeBoth(const std::string& oldLine, const std::string& newLine) {
        platform::Status s = tf::writeLine(oldKeptFile, oldLine);
        return s.ok() ? tf::writeLine(newKeptFile, newLine) : s;
    }

    const history::Files& files_;
    bool opened_ = false;
    std::string folder_;
};

// Cuts a pair, and whatever follows it, off both history files. Old.ini goes
// first: a New.ini line left over at the end is ignored by the readers.
platform::Status cutOff(const history::PairStart& pair) {
    platform::Status s = tf::truncate(oldFile, pair.oldStart);
    return s.ok() ? tf::truncate(newFile, pair.newStart) : s;
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

HistoryRead ReadHistory() {
    return history::readCurrent();
}

RestoreResult RestoreNames() {
    using namespace tavrinM;
    RestoreResult result;
    platform::FolderLock lock;
    if (auto s = lock.acquire(platform::programFolder()); !s.ok()) {
        return withProblem(result, Problem::Refused, OldIniPath, s.reason);
    }
    if (const HistoryRead current = history::readCurrent(); !current.ok) {
        return withProblem(result, Problem::Unreadable, current.path, current.reason);
    }
    std::string failedPath;
    if (auto s = history::settle(true, failedPath); !s.ok()) {
        return withProblem(result, Problem::Refused, failedPath, s.reason);
    }
    bool cannotChange = false;
    const history::Parsed history = history::openForRestore(cannotChange);
    if (!history.ok) {
        return withProblem(result, cannotChange ? Problem::Refused : Problem::Unreadable,
                           history.path, history.reason);
    }

    // Last rename first, so a file that took a name another had just left comes back right.
    const history::Files files = history::files();
    KeptPairs kept(files);
    // Reused from pair to pair, so that the walk allocates nothing per pair.
    HistoryPair pair;
    std::string from, to, reason;
    for (std::size_t i = history.pairs.size(); i-- > 0;) {
        history.pairs.copy(i, pair);
        FolderPath = pair.folder;
        OldName = pair.oldName;
        NewName = pair.newName;
        bool restored = false;
        reason = "ファイル名として使えない名前です";
        if (isUsableName(OldName) && isUsableName(NewName)) {
            from.assign(FolderPath).append(NewName);
            to.assign(FolderPath).append(OldName);
            const platform::Status renamed = platform::renameNoReplace(from, to);
            // Already as it was: a restore stopped between a rename and its cut, or
            // a run stopped between recording a pair and renaming its file.
            restored = renamed.ok() || (!platform::entryExists(from) && platform::entryExists(to));
            reason = renamed.reason;
        }
        if (restored) {
            ++result.restored;
        } else if (auto s = kept.add(pair); !s.ok()) {
            result = withProblem(std::move(result), Problem::Stopped, files.oldKept, s.reason);
            break;
        } else {
            result.failed.push_back({pair, reason});
        }
        if (auto s = cutOff(history.starts[i]); !s.ok()) {
            result = withProblem(std::move(result), Problem::Stopped, OldIniPath, s.reason);
            break;
        }
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
            const std::string path = platform::entryExists(NewIniPath) ? NewIniPath : OldIniPath;
            result = withProblem(std::move(result), Problem::NotDeleted, path, s.reason);
        }
    }
    return result;
}

} // namespace tavrin
