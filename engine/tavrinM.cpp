#include "engine/tavrinM.h"

#include <cstdio>

namespace tavrinM {

namespace {

MessageFunction& messageFunction() {
    static MessageFunction show;
    return show;
}

} // namespace

void setMessageFunction(MessageFunction show) {
    messageFunction() = std::move(show);
}

void ShowMsg() {
    if (const auto& show = messageFunction()) {
        show(MsgText);
    } else {
        std::fprintf(stderr, "Tavrin: %s\n", MsgText.c_str());
    }
}

void ResetState() {
    MsgText.clear();
    OldName.clear();
    NewName.clear();
    FolderPath.clear();
    NewIniPath.clear();
    OldIniPath.clear();
    BaseName.clear();
    ListIdx = 0;
    NameNum = 0;
    RndNum = 0;
}

bool PathExists(const std::string& path, tavrin::platform::Status* error) {
    return tavrin::platform::isOrdinaryFile(path, error);
}

tavrin::platform::Status RenameOne() {
    // A run renames file after file: the two paths keep their room from call to call.
    thread_local std::string from, to;
    from.assign(FolderPath).append(OldName);
    to.assign(FolderPath).append(NewName);
    return tavrin::platform::renameNoReplace(from, to);
}

void SetHistoryPaths() {
    const std::string folder = tavrin::platform::historyFolder();
    const char sep = tavrin::platform::separator();
    NewIniPath = folder + sep + std::string(tavrin::platform::newHistoryName);
    OldIniPath = folder + sep + std::string(tavrin::platform::oldHistoryName);
}

tavrin::platform::Status KillHistory() {
    tavrin::platform::Status newRemoved = tavrin::platform::removeFile(NewIniPath);
    tavrin::platform::Status oldRemoved = tavrin::platform::removeFile(OldIniPath);
    return newRemoved.ok() ? oldRemoved : newRemoved;
}

} // namespace tavrinM
