#include "engine/history.h"
#include "engine/tavrinM.h"
#include "platform/textfile.h"

#include <algorithm>

namespace tavrin {

namespace {

namespace tf = platform::textfile;

constexpr int oldFile = 1;
constexpr int newFile = 2;

// A rewrite of the history goes to these files first, then into place.
std::string pendingPath(const std::string& path) {
    return path + ".new";
}

bool present(const std::string& path) {
    return platform::isOrdinaryFile(path);
}

// Finishes or discards a rewrite that a killed process left half done. The
// rewrite writes New.ini.new, then Old.ini.new, then moves New.ini.new into
// place, then Old.ini.new: a lone Old.ini.new is complete and goes on, while
// a New.ini.new means the originals were never touched.
void recoverInterruptedRewrite() {
    const std::string oldPending = pendingPath(tavrinM::OldIniPath);
    const std::string newPending = pendingPath(tavrinM::NewIniPath);
    if (present(newPending)) {
        platform::removeFile(oldPending);
        platform::removeFile(newPending);
    } else if (present(oldPending)) {
        platform::replaceFile(oldPending, tavrinM::OldIniPath);
    }
}

HistoryRead failed(HistoryRead read, const std::string& path, std::string reason) {
    read.ok = false;
    read.path = path;
    read.reason = std::move(reason);
    read.pairs.clear();
    return read;
}

HistoryRead readOpenHistory() {
    HistoryRead read;
    std::string folder;
    bool haveFolder = false;
    while (!tf::atEnd(oldFile)) {
        std::string oldLine, newLine;
        bool oldComplete = false, newComplete = false;
        const platform::Status oldRead = tf::readLine(oldFile, oldLine, &oldComplete);
        if (!oldComplete) {
            break; // cut short by a killed run: its rename was never tried
        }
        if (!oldRead.ok()) {
            return failed(std::move(read), tavrinM::OldIniPath, oldRead.reason);
        }
        const bool lastOld = tf::atEnd(oldFile);
        if (tf::atEnd(newFile)) {
            if (lastOld) {
                break; // the partner line was never written
            }
            return failed(std::move(read), tavrinM::NewIniPath,
                          "New.ini が Old.ini より先に終わっています");
        }
        const platform::Status newRead = tf::readLine(newFile, newLine, &newComplete);
        if (!newComplete && lastOld) {
            break;
        }
        if (!newRead.ok() || !newComplete) {
            return failed(std::move(read), tavrinM::NewIniPath,
                          newRead.ok() ? "New.ini が Old.ini より先に終わっています"
                                       : newRead.reason);
        }
        if (isFolderLine(oldLine)) {
            folder = oldLine.substr(1);
            haveFolder = true;
        } else if (!haveFolder) {
            return failed(std::move(read), tavrinM::OldIniPath, "フォルダーの行がありません");
        } else {
            read.pairs.push_back({folder, std::move(oldLine), std::move(newLine)});
        }
    }
    return read;
}

// Writes `pairs` as the whole history, through the pending files.
platform::Status rewriteHistory(const std::vector<RestoreFailure>& failures) {
    const std::string oldPending = pendingPath(tavrinM::OldIniPath);
    const std::string newPending = pendingPath(tavrinM::NewIniPath);
    // New.ini.new is complete before Old.ini.new is begun (see recoverInterruptedRewrite).
    for (const auto& [number, path, useOld] :
         {std::tuple{newFile, newPending, false}, std::tuple{oldFile, oldPending, true}}) {
        if (auto s = tf::open(number, path, tf::Mode::Output); !s.ok()) {
            tf::close(oldFile);
            tf::close(newFile);
            return s;
        }
        std::string folder;
        platform::Status s;
        for (const auto& failure : failures) {
            const HistoryPair& pair = failure.pair;
            if (s.ok() && pair.folder != folder) {
                folder = pair.folder;
                s = tf::writeLine(number, "-" + folder);
            }
            if (s.ok()) {
                s = tf::writeLine(number, useOld ? pair.oldName : pair.newName);
            }
        }
        tf::close(number);
        if (!s.ok()) {
            platform::removeFile(oldPending);
            platform::removeFile(newPending);
            return s;
        }
    }
    if (auto s = platform::replaceFile(newPending, tavrinM::NewIniPath); !s.ok()) {
        platform::removeFile(oldPending);
        platform::removeFile(newPending);
        return s;
    }
    return platform::replaceFile(oldPending, tavrinM::OldIniPath);
}

} // namespace

bool isFolderLine(const std::string& oldLine) {
    return oldLine.size() > 1 && oldLine.front() == '-' &&
           platform::isAbsoluteFolder(std::string_view(oldLine).substr(1));
}

HistoryRead ReadHistory() {
    recoverInterruptedRewrite();
    if (auto s = tf::open(oldFile, tavrinM::OldIniPath, tf::Mode::Input); !s.ok()) {
        return failed({}, tavrinM::OldIniPath, s.reason);
    }
    if (auto s = tf::open(newFile, tavrinM::NewIniPath, tf::Mode::Input); !s.ok()) {
        tf::close(oldFile);
        return failed({}, tavrinM::NewIniPath, s.reason);
    }
    HistoryRead read = readOpenHistory();
    tf::close(oldFile);
    tf::close(newFile);
    return read;
}

RestoreResult RestoreNames() {
    using namespace tavrinM;
    RestoreResult result;
    const HistoryRead history = ReadHistory();
    if (!history.ok) {
        result.readOk = false;
        result.path = history.path;
        result.reason = history.reason;
        return result;
    }
    // Last rename first, so a file that took a name another had just left comes back right.
    for (auto it = history.pairs.rbegin(); it != history.pairs.rend(); ++it) {
        FolderPath = it->folder;
        OldName = it->oldName;
        NewName = it->newName;
        const std::string from = FolderPath + NewName;
        const std::string to = FolderPath + OldName;
        const platform::Status renamed = platform::renameNoReplace(from, to);
        if (renamed.ok() || (!present(from) && present(to))) {
            ++result.restored;
        } else {
            result.failed.push_back({*it, renamed.reason});
        }
    }
    std::reverse(result.failed.begin(), result.failed.end());
    if (result.failed.empty()) {
        KillHistory();
    } else if (auto s = rewriteHistory(result.failed); !s.ok()) {
        result.path = OldIniPath;
        result.reason = s.reason;
    }
    return result;
}

} // namespace tavrin
