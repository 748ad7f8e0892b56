#include "platform/program.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#ifndef __APPLE__
#include <gio/gdesktopappinfo.h>
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
// The command line of a desktop entry that opens `file`: its Exec key split
// as the shell would, the file in place of its field code, the codes that name
// the entry itself left out. False for an editor that needs a terminal.
bool editorCommand(GAppInfo* app, const std::string& file, std::vector<std::string>& args) {
    if (!G_IS_DESKTOP_APP_INFO(app) ||
        g_desktop_app_info_get_boolean(G_DESKTOP_APP_INFO(app), "Terminal"))
        return false;
    const char* exec = g_app_info_get_commandline(app);
    int argc = 0;
    char** argv = nullptr;
    if (exec == nullptr || !g_shell_parse_argv(exec, &argc, &argv, nullptr))
        return false;
    GFile* target = g_file_new_for_path(file.c_str());
    char* uri = g_file_get_uri(target);
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "%f" || arg == "%F" || arg == "%u" || arg == "%U") {
            args.push_back(arg[1] == 'f' || arg[1] == 'F' ? file : std::string(uri));
        } else if (arg.size() != 2 || arg[0] != '%' || arg == "%%") {
            for (auto at = arg.find("%%"); at != std::string::npos; at = arg.find("%%", at + 1))
                arg.erase(at, 1);
            args.push_back(arg);
        }
    }
    g_free(uri);
    g_object_unref(target);
    g_strfreev(argv);
    return !args.empty();
}

// Opens `file` in the desktop's default application for text files, chosen as
// the file manager chooses it. Started by us, so that an editor that cannot
// run is known (GIO's own launch reports one as started); GIO starts one that
// needs a terminal in one.
bool openInTextEditor(const std::string& file) {
    GAppInfo* app = g_app_info_get_default_for_type("text/plain", FALSE);
    if (app == nullptr)
        return false;
    std::vector<std::string> args;
    bool started = false;
    if (editorCommand(app, file, args)) {
        started = spawnDetached(args);
    } else {
        GFile* target = g_file_new_for_path(file.c_str());
        GList* files = g_list_append(nullptr, target);
        started = g_app_info_launch(app, files, nullptr, nullptr);
        g_list_free(files);
        g_object_unref(target);
    }
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
