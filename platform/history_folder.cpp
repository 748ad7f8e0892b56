// Where the history files live: beside the program when the user may write
// there, else in the user's own folder for program data.
#include "platform/fs.h"
#include "platform/fs_internal.h"

#include <optional>

namespace tavrin::platform {

namespace {

std::optional<std::string> chosen;
std::string stateOverride;
bool programOverridden = false;

// Any of the files a run leaves: a history, or the pending and kept files of
// one cut short.
bool holdsHistory(const std::string& folder) {
    std::string prefix = folder;
    if (prefix.empty() || prefix.back() != separator()) {
        prefix += separator();
    }
    for (const std::string_view name : {oldHistoryName, newHistoryName}) {
        for (const std::string_view suffix : {std::string_view(), pendingSuffix, keptSuffix}) {
            if (entryExists(prefix + std::string(name) + std::string(suffix))) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

namespace detail {

std::string chooseHistoryFolder(const std::string& program, const std::string& state) {
    if (state.empty()) {
        return program;
    }
    if (canCreateFileIn(program) && (holdsHistory(program) || !holdsHistory(state))) {
        return program;
    }
    // A failure here shows when the history is written, with this path.
    [[maybe_unused]] const Status made = makeFolders(state);
    return state;
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
        // Tests that point the program elsewhere keep the history there too,
        // never in the real user's folder.
        chosen = programOverridden && stateOverride.empty()
                     ? programFolder()
                     : detail::chooseHistoryFolder(programFolder(), userStateFolder());
    }
    return *chosen;
}

} // namespace tavrin::platform
