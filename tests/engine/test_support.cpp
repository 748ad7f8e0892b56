#include "test_support.h"

#include "engine/history.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/random.h"
#include "platform/textfile.h"

#ifdef _WIN32
#include "platform/win32_text.h"
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

namespace tavrin::testing {

fs::path u8(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string sep() {
    return std::string(1, platform::separator());
}

std::string nativeFolder(std::string_view posix) {
    std::string out;
    if (platform::separator() != '/' && !posix.empty() && posix.front() == '/') {
        out = "C:";
    }
    for (const char c : posix) {
        out.push_back(c == '/' ? platform::separator() : c);
    }
    return out;
}

#ifdef _WIN32
std::string missingFileReason() {
    return platform::detail::systemMessage(ERROR_FILE_NOT_FOUND);
}
std::string missingFolderReason() {
    return platform::detail::systemMessage(ERROR_PATH_NOT_FOUND);
}
#else
std::string missingFileReason() {
    return std::strerror(ENOENT);
}
std::string missingFolderReason() {
    return std::strerror(ENOENT);
}
#endif

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

std::vector<std::string> linesOf(const std::string& bytes) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
        lines.push_back(bytes.substr(at, end - at));
    }
    return lines;
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(utf8(e.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

#ifdef _WIN32
bool makeUnwritable(const fs::path& path) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
    return !ec;
}
void makeWritable(const fs::path& path) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
}
#else
namespace {
bool setImmutable(const fs::path& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}
} // namespace
bool makeUnwritable(const fs::path& path) {
    if (::geteuid() == 0) {
        return setImmutable(path, true);
    }
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_read, ec);
    return !ec;
}
void makeWritable(const fs::path& path) {
    if (::geteuid() == 0) {
        setImmutable(path, false);
    }
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, ec);
}
#endif

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
    platform::setProgramFolderForTesting(utf8(prog));
    platform::setHistoryCodePageForTesting(0);
    tavrinM::setMessageFunction([this](const std::string& text) { messages.push_back(text); });
    tavrinM::ResetState();
}

void TempFolder::TearDown() {
    for (int number = 1; number <= 4; ++number) {
        platform::textfile::close(number);
    }
    platform::random::setFractionSourceForTesting({});
    setBatchLimitForTesting(0);
    setRestoreBatchLimitForTesting(0);
    setHistoryLimitsForTesting({});
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(prog, ec)) {
        makeWritable(entry.path());
    }
    tavrinM::setMessageFunction({});
    platform::setUserStateFolderForTesting({});
    platform::setProgramFolderForTesting({});
    platform::setHistoryCodePageForTesting(0);
    fs::permissions(prog, fs::perms::owner_all, ec);
    fs::remove_all(root, ec);
}

void TempFolder::logMessagesInto(RecordingActions& act) {
    tavrinM::setMessageFunction([this, &act](const std::string& text) {
        messages.push_back(text);
        act.log.push_back("msg " + text);
    });
}

void TempFolder::makeFile(const std::string& name, const std::string& content) {
    writeBytes(dir / u8(name), content.empty() ? name : content);
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
        out[name] = readBytes(dir / u8(name));
    }
    return out;
}

} // namespace tavrin::testing
