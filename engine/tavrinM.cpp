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

tavrin::platform::Status RenameOne(tavrin::platform::HeldFolder* held) {
    if (held != nullptr) {
        return held->rename(OldName, NewName);
    }
    return tavrin::platform::renameNoReplace(FolderPath + OldName, FolderPath + NewName);
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
