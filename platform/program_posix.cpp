#include "platform/program.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#ifndef __APPLE__
#include <gio/gio.h>
#endif

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
// Opens `file` in the desktop's default application for text files, chosen as
// the file manager chooses it; GIO starts an editor that needs a terminal in one.
bool openInTextEditor(const std::string& file) {
    GAppInfo* app = g_app_info_get_default_for_type("text/plain", FALSE);
    if (app == nullptr)
        return false;
    GFile* target = g_file_new_for_path(file.c_str());
    GList* files = g_list_append(nullptr, target);
    const bool started = g_app_info_launch(app, files, nullptr, nullptr);
    g_list_free(files);
    g_object_unref(target);
    g_object_unref(app);
    return started;
}
#endif

} // namespace

void setProgramStarterForTesting(ProgramStarter* fake) {
    fakeStarter = fake;
}

// The window style has no portable meaning here; the desktop places the window.
// "NOTEPAD file" opens the file in the desktop's default text editor.
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
