// A temporary-folder fixture for tests over real files, a message recorder and
// follow-up actions that log what the run asked for.
#pragma once

#include "engine/rename_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tavrin::testing {

namespace fs = std::filesystem;

// A UTF-8 name or path as a path, whatever the system's narrow code page is.
fs::path u8(std::string_view utf8);
// A path as UTF-8 text.
std::string utf8(const fs::path& path);
// The native separator as text.
std::string sep();
// An absolute folder written POSIX-style ("/a/") in this system's form
// ("C:\a\" on Windows); without a leading "/" only the separators change.
std::string nativeFolder(std::string_view posix);
// The system's reasons for a missing file and for a missing folder on the way.
std::string missingFileReason();
std::string missingFolderReason();

std::string readBytes(const fs::path& path);
void writeBytes(const fs::path& path, const std::string& bytes);

// The lines of a history file's bytes, each without its CR LF.
std::vector<std::string> linesOf(const std::string& bytes);

// Names of the entries of `folder`, sorted by their bytes.
std::vector<std::string> entries(const fs::path& folder);

// Makes a file unwritable even for an administrator where the system allows
// it (immutable on Linux, read-only elsewhere); false when it cannot.
bool makeUnwritable(const fs::path& path);
void makeWritable(const fs::path& path);

// Logs every action, in order, as a short text ("range 0 3", "value 1", ...).
struct RecordingActions : RunActions {
    std::vector<std::string> log;
    std::function<void()> onYield;
    bool ending = false; // answer the yield with "the program is ending"
    std::function<void()> onStartRestore;

    void showOptionsTab1() override { log.push_back("tab1"); }
    void focusBaseName() override { log.push_back("focus NewNa"); }
    void focusNewExtension() override { log.push_back("focus NewK"); }
    void setProgressRange(long min, long max) override {
        log.push_back("range " + std::to_string(min) + " " + std::to_string(max));
    }
    void setProgressValue(long value) override { log.push_back("value " + std::to_string(value)); }
    void replaceExtensionList(const std::string& ext) override { log.push_back("GetCN " + ext); }
    void selectFirstExtension() override { log.push_back("select first"); }
    void clearTextBoxes() override { log.push_back("clear boxes"); }
    void refreshFileList() override { log.push_back("refresh"); }
    void startRestore() override {
        log.push_back("restore");
        if (onStartRestore) {
            onStartRestore();
        }
    }
    bool yieldToEvents() override {
        if (onYield) {
            onYield();
        }
        return !ending;
    }
    // The log without the per-file progress values.
    std::vector<std::string> withoutProgress() const;
};

// A fresh folder for the files (`dir`) and one for the program (`prog`, where
// the history goes); messages are recorded instead of shown.
class TempFolder : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Records messages into `act`'s log too ("msg " + text), so their place
    // among the actions shows.
    void logMessagesInto(RecordingActions& act);
    // Creates `name` in dir holding `content` (default: its own name).
    void makeFile(const std::string& name, const std::string& content = {});
    void makeFiles(const std::vector<std::string>& names);
    // Inputs over dir for `files`, sequence numbering, list extension.
    FixedRunInputs inputs(const std::vector<std::string>& files, const std::string& base = "photo",
                          const std::string& selected = "jpg") const;
    std::string oldIni() const { return readBytes(prog / "Old.ini"); }
    std::string newIni() const { return readBytes(prog / "New.ini"); }
    std::string folderLine() const { return "-" + utf8(dir) + sep() + "\r\n"; }
    // Writes a history by hand: folder line, then each pair.
    void writeHistory(const std::vector<std::pair<std::string, std::string>>& pairs);
    // Names in dir mapped to their contents.
    std::map<std::string, std::string> contents() const;

    fs::path root, dir, prog;
    std::vector<std::string> messages;
};

} // namespace tavrin::testing
