#include "platform/program.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

namespace tavrin::platform {

namespace {

ProgramStarter* fakeStarter = nullptr;

bool equalsNoCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        char c = a[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != b[i])
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// Runs argv detached: an intermediate child starts the program and exits at
// once, so the program is re-parented and never left as a zombie. A pipe closed
// on exec tells whether exec succeeded.
bool spawnDetached(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        close(report[0]);
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            setsid();
            execvp(argv[0], argv.data());
            const int error = errno;
            [[maybe_unused]] ssize_t n = write(report[1], &error, sizeof error);
            _exit(127);
        }
        if (grandchild < 0) {
            const int error = errno;
            [[maybe_unused]] ssize_t n = write(report[1], &error, sizeof error);
        }
        _exit(0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    return got == 0;
}

#ifdef __APPLE__
bool openInTextEditor(const std::string& file) {
    return spawnDetached({"open", "-t", file});
}
#else
std::vector<std::string> split(const std::string& text, char at) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, at);) {
        if (!part.empty())
            parts.push_back(part);
    }
    return parts;
}

// An XDG base directory list: the user's own folder first, then the system's.
std::vector<std::string> baseDirs(const char* userVar, const char* userDefault,
                                  const char* systemVar, const char* systemDefault) {
    std::vector<std::string> dirs;
    if (const char* user = std::getenv(userVar); user && *user)
        dirs.push_back(user);
    else if (const char* home = std::getenv("HOME"))
        dirs.push_back(std::string(home) + userDefault);
    const char* system = std::getenv(systemVar);
    for (auto& dir : split(system && *system ? system : systemDefault, ':'))
        dirs.push_back(dir);
    return dirs;
}

std::vector<std::string> dataDirs() {
    return baseDirs("XDG_DATA_HOME", "/.local/share", "XDG_DATA_DIRS",
                    "/usr/local/share:/usr/share");
}

// The keys of one [group] of a desktop entry or a mimeapps.list file.
std::map<std::string, std::string> readGroup(const std::string& path, const std::string& group) {
    std::map<std::string, std::string> keys;
    std::ifstream in(path);
    bool inGroup = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() == '[') {
            inGroup = line == "[" + group + "]";
            continue;
        }
        const auto eq = line.find('=');
        if (!inGroup || eq == std::string::npos)
            continue;
        const auto keyEnd = line.find_last_not_of(' ', eq - 1);
        const auto valueStart = line.find_first_not_of(' ', eq + 1);
        keys.emplace(line.substr(0, keyEnd == std::string::npos ? 0 : keyEnd + 1),
                     valueStart == std::string::npos ? std::string() : line.substr(valueStart));
    }
    return keys;
}

// The user's chosen applications for text files, best first.
std::vector<std::string> defaultTextApps() {
    std::vector<std::string> lists;
    for (const auto& dir : baseDirs("XDG_CONFIG_HOME", "/.config", "XDG_CONFIG_DIRS", "/etc/xdg"))
        lists.push_back(dir + "/mimeapps.list");
    for (const auto& dir : dataDirs()) {
        lists.push_back(dir + "/applications/mimeapps.list");
        lists.push_back(dir + "/applications/defaults.list");
    }
    std::vector<std::string> ids;
    for (const auto& list : lists) {
        for (auto& id : split(readGroup(list, "Default Applications")["text/plain"], ';'))
            ids.push_back(id);
    }
    return ids;
}

struct TextApp {
    std::string exec;
    bool terminal = false;
    bool editor = false; // in the TextEditor category
};

bool contains(const std::vector<std::string>& list, const char* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// The installed applications that open text files, by desktop id; an id in an
// earlier folder hides the same id in later ones.
std::map<std::string, TextApp> textApps() {
    std::map<std::string, TextApp> apps;
    std::set<std::string> seen;
    for (const auto& dir : dataDirs()) {
        const std::string folder = dir + "/applications";
        DIR* d = ::opendir(folder.c_str());
        if (!d)
            continue;
        while (const dirent* e = ::readdir(d)) {
            const std::string id = e->d_name;
            if (id.size() <= 8 || id.compare(id.size() - 8, 8, ".desktop") != 0 ||
                !seen.insert(id).second)
                continue;
            auto keys = readGroup(folder + "/" + id, "Desktop Entry");
            if (keys["Type"] == "Application" && keys["Hidden"] != "true" &&
                !keys["Exec"].empty() && contains(split(keys["MimeType"], ';'), "text/plain"))
                apps[id] = {keys["Exec"], keys["Terminal"] == "true",
                            contains(split(keys["Categories"], ';'), "TextEditor")};
        }
        ::closedir(d);
    }
    return apps;
}

// The words of an Exec line with `file` in place of its file field code (or
// after the last word when it has none); other field codes are dropped.
std::vector<std::string> command(const std::string& exec, const std::string& file) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false, fileGiven = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (quoted && c == '\\' && i + 1 < exec.size()) {
            word += exec[++i];
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '%' && i + 1 < exec.size()) {
            const char code = exec[++i];
            if (code == '%') {
                word += '%';
            } else if (code == 'f' || code == 'F' || code == 'u' || code == 'U') {
                word += file;
                fileGiven = true;
            }
            inWord = inWord || !word.empty();
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    if (!fileGiven)
        words.push_back(file);
    return words;
}

// Opens `file` in a text editor the desktop offers: the user's choice and
// graphical editors first, one that needs a terminal only in a terminal.
bool openInTextEditor(const std::string& file) {
    const auto apps = textApps();
    std::vector<const TextApp*> graphical, inTerminal;
    const auto offer = [&](const TextApp& app) {
        auto& list = app.terminal ? inTerminal : graphical;
        if (std::find(list.begin(), list.end(), &app) == list.end())
            list.push_back(&app);
    };
    for (const auto& id : defaultTextApps()) {
        if (const auto it = apps.find(id); it != apps.end())
            offer(it->second);
    }
    for (const bool editors : {true, false}) {
        for (const auto& [id, app] : apps) {
            if (app.editor == editors)
                offer(app);
        }
    }
    for (const TextApp* app : graphical) {
        if (spawnDetached(command(app->exec, file)))
            return true;
    }
    const char* terminal = std::getenv("TERMINAL");
    for (const TextApp* app : inTerminal) {
        std::vector<std::string> line{terminal && *terminal ? terminal : "x-terminal-emulator",
                                      "-e"};
        for (auto& word : command(app->exec, file))
            line.push_back(word);
        if (spawnDetached(line))
            return true;
    }
    return false;
}
#endif

} // namespace

void setProgramStarterForTesting(ProgramStarter* fake) {
    fakeStarter = fake;
}

// The window style has no portable meaning here; the desktop places the window.
// "NOTEPAD file" opens the file in the desktop's text editor.
bool startProgram(const std::string& commandLine, int showStyle) {
    if (fakeStarter)
        return fakeStarter->startProgram(commandLine, showStyle);
    const auto space = commandLine.find(' ');
    std::string program = commandLine.substr(0, space);
    if (program.empty())
        return false;
    std::vector<std::string> args{program};
    if (space != std::string::npos && space + 1 < commandLine.size())
        args.push_back(commandLine.substr(space + 1));
    if (equalsNoCase(program, "NOTEPAD") && args.size() == 2)
        return openInTextEditor(args[1]);
    return spawnDetached(args);
}

bool startFile(const std::string& path, int showStyle) {
    if (fakeStarter)
        return fakeStarter->startFile(path, showStyle);
    if (path.empty())
        return false;
    // execvp searches PATH only for a name without "/"; keep a bare name local.
    return spawnDetached({path.find('/') == std::string::npos ? "./" + path : path});
}

} // namespace tavrin::platform
