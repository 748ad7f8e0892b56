// The rename run: checks its inputs, records every pair of names in the history
// ahead of its rename, renames the listed files and tells its caller what to do
// with the window through the follow-up actions.
#pragma once

#include <string>
#include <vector>

namespace tavrin {

// The inputs of a run. Folder, file count and base name are read once at the
// start; the other fields are read again for each file, so a change the user
// makes during the run applies to the files still to come.
class RunInputs {
public:
    virtual ~RunInputs() = default;
    virtual std::string folder() const = 0;
    virtual long fileCount() const = 0;
    virtual std::string fileName(long index) const = 0;
    virtual std::string baseName() const = 0;
    virtual std::string newExtension() const = 0;
    virtual std::string selectedExtension() const = 0;
    virtual bool nameAndExtension() const = 0; // KaC checked
    virtual bool extensionOnly() const = 0;    // KacC checked
    virtual bool randomNumber() const = 0;     // LCk checked
};

// Plain values standing in for the window's controls.
struct FixedRunInputs : RunInputs {
    std::string Folder;
    std::vector<std::string> Files;
    std::string Base;
    std::string NewExt;
    std::string SelectedExt;
    bool KaC = false;
    bool KacC = false;
    bool LCk = false;

    std::string folder() const override { return Folder; }
    long fileCount() const override { return static_cast<long>(Files.size()); }
    std::string fileName(long index) const override { return Files[static_cast<size_t>(index)]; }
    std::string baseName() const override { return Base; }
    std::string newExtension() const override { return NewExt; }
    std::string selectedExtension() const override { return SelectedExt; }
    bool nameAndExtension() const override { return KaC; }
    bool extensionOnly() const override { return KacC; }
    bool randomNumber() const override { return LCk; }
};

// What the run asks of its caller, each at its point of the run. The default
// of every action is to do nothing.
class RunActions {
public:
    virtual ~RunActions() = default;
    virtual void showOptionsTab1() {}   // OpTb to tab 1, with the focus
    virtual void focusBaseName() {}     // NewNa, when it can take the focus
    virtual void focusNewExtension() {} // NewK
    virtual void setProgressRange(long /*min*/, long /*max*/) {}
    virtual void setProgressValue(long /*value*/) {}
    virtual void replaceExtensionList(const std::string& /*ext*/) {} // GetCN: only entry
    virtual void selectFirstExtension() {}                           // GetCN
    virtual void clearTextBoxes() {}                                 // NewNa, NewK
    virtual void refreshFileList() {}                                // File1
    virtual void startRestore() {}                                   // ReNm_Click
    // Once per file, after its rename. False means the program is ending: the
    // run closes the history and stops at once, asking for nothing more.
    virtual bool yieldToEvents() { return true; }
};

enum class RunEnding {
    Refused,       // a check failed: nothing opened, nothing renamed
    HistoryFailed, // the history could not be created or written: nothing renamed
    Completed,     // every listed file renamed
    Stopped,       // a failure other than a clash stopped the loop
    NameClash,     // the new name of a file was taken; the restore was started
    Ended,         // the program is ending; files renamed so far are in the history
};

// Runs one rename over `inputs`, reporting through `actions` and ShowMsg.
//
// The files go in batches: the run composes the new names of the files that
// come next for about one frame (reading the per-file inputs as it goes),
// writes their pairs to the history and makes it durable, then renames them
// one by one, yielding after each. A rename is never tried before its pair
// would survive a power cut.
RunEnding RenameRun(const RunInputs& inputs, RunActions& actions);

// What the last run did to keep its history durable, for the benchmark.
struct RunFigures {
    long batches = 0;         // batches of pairs made durable ahead of their renames
    long fileSyncs = 0;       // history files made durable
    long folderSyncs = 0;     // history folder made durable
    long userFolderSyncs = 0; // the user's folder made durable (two disks, FAT, exFAT)
    double syncSeconds = 0;
    bool namesWatched = false; // free names known from a watch of the folder to the end
};
const RunFigures& lastRunFigures();

// Test-only: batches end after `files` files instead of after a time, so that
// tests know where they end (0: by time again).
void setBatchLimitForTesting(long files);

} // namespace tavrin
