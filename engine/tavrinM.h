// The run state that the windows share, and the small procedures that several
// operations call. One instance for the whole process; everything starts empty.
#pragma once

#include "platform/fs.h"

#include <array>
#include <functional>
#include <string>

namespace tavrinM {

inline std::string MsgText;    // the text of the next message box
inline std::string FolderPath; // folder of the current run or restore, ends in the separator
inline std::string OldName;    // old name (no folder) of the file being handled
inline std::string NewName;    // new name (no folder) of that file
inline std::string NewIniPath; // full path of New.ini
inline std::string OldIniPath; // full path of Old.ini
inline std::string BaseName;   // base name of the current run
inline long ListIdx = 0;       // position in the file list being handled (scratch)
inline long NameNum = 0;       // number joined to the base name; collection reuses it
inline long RndNum = 0;        // the last random number drawn (1 to 9999)
inline long DotPos = 0;        // scratch: 1-based position of the first "." (0: none)
inline std::string ItemName;   // file-list entry examined by the extension collection
inline std::string ItemExt;    // extension cut from ItemName
inline std::array<std::string, 11> HelpText; // help texts shown in the help label

// The function ShowMsg hands MsgText to: the GUI installs its message box, tests
// a recorder. Without one, messages go to standard error.
using MessageFunction = std::function<void(const std::string&)>;
void setMessageFunction(MessageFunction show);

// Shows MsgText in a modal OK-only box captioned "Tavrin"; MsgText stays as it is.
void ShowMsg();

// Empties the texts and zeroes the counters of the run; leaves DotPos, ItemName,
// ItemExt and HelpText alone.
void ResetState();

// True when `path` names an ordinary file (not hidden, not a folder). A search
// that itself fails (a folder that cannot be read) is no answer: it is reported
// in `error`, and the result is then false.
bool PathExists(const std::string& path, tavrin::platform::Status* error = nullptr);

// Renames FolderPath + OldName to FolderPath + NewName, never replacing a file.
// A run passes the folder it holds open as FolderPath: the names are then
// renamed within it.
tavrin::platform::Status RenameOne(tavrin::platform::HeldFolder* held = nullptr);

// Sets NewIniPath and OldIniPath: the history folder + separator + the file name.
void SetHistoryPaths();

// Deletes New.ini, then Old.ini; a missing file is skipped. Both are tried;
// the first failure is returned.
tavrin::platform::Status KillHistory();

} // namespace tavrinM
