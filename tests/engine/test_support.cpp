#include "test_support.h"

#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/textfile.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

namespace tavrin::testing {

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> RecordingActions::withoutProgress() const {
    std::vector<std::string> out;
    for (const auto& entry : log) {
        if (entry.rfind("value ", 0) != 0 || entry == "value 0") {
            out.push_back(entry);
        }
    }
    return out;
}

void TempFolder::SetUp() {
    std::random_device rd;
    root =
        fs::temp_directory_path() / ("tavrin-test-" + std::to_string(rd()) + std::to_string(rd()));
    dir = root / "files";
    prog = root / "prog";
    fs::create_directories(dir);
    fs::create_directories(prog);
    platform::setProgramFolderForTesting(prog.string());
    platform::setHistoryCodePageForTesting(0);
    tavrinM::setMessageFunction([this](const std::string& text) { messages.push_back(text); });
    tavrinM::ResetState();
}

void TempFolder::TearDown() {
    platform::textfile::close(1);
    platform::textfile::close(2);
    tavrinM::setMessageFunction({});
    platform::setProgramFolderForTesting({});
    platform::setHistoryCodePageForTesting(0);
    std::error_code ec;
    fs::permissions(prog, fs::perms::owner_all, ec);
    fs::remove_all(root, ec);
}

void TempFolder::makeFile(const std::string& name, const std::string& content) {
    writeBytes(dir / name, content.empty() ? name : content);
}

void TempFolder::makeFiles(const std::vector<std::string>& names) {
    for (const auto& name : names) {
        makeFile(name);
    }
}

FixedRunInputs TempFolder::inputs(const std::vector<std::string>& files, const std::string& base,
                                  const std::string& selected) const {
    FixedRunInputs in;
    in.Folder = dir.string();
    in.Files = files;
    in.Base = base;
    in.SelectedExt = selected;
    return in;
}

void TempFolder::writeHistory(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string oldBytes = folderLine(), newBytes = folderLine();
    for (const auto& [oldName, newName] : pairs) {
        oldBytes += oldName + "\r\n";
        newBytes += newName + "\r\n";
    }
    writeBytes(prog / "Old.ini", oldBytes);
    writeBytes(prog / "New.ini", newBytes);
}

std::map<std::string, std::string> TempFolder::contents() const {
    std::map<std::string, std::string> out;
    for (const auto& name : entries(dir)) {
        out[name] = readBytes(dir / name);
    }
    return out;
}

} // namespace tavrin::testing
