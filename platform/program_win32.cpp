#include "platform/program.h"
#include "platform/win32_text.h"

#include <windows.h>

#include <vector>

namespace tavrin::platform {

namespace {

ProgramStarter* fakeStarter = nullptr;

using detail::toWide;

// As WinExec does it: the system parses the line and searches for the program
// when `application` is empty. The handles are closed at once: nobody waits.
bool create(const std::wstring& application, std::wstring commandLine, int showStyle) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showStyle);
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr,
                        nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

} // namespace

void setProgramStarterForTesting(ProgramStarter* fake) {
    fakeStarter = fake;
}

bool startProgram(const std::string& commandLine, int showStyle) {
    if (fakeStarter)
        return fakeStarter->startProgram(commandLine, showStyle);
    return create({}, toWide(commandLine), showStyle);
}

bool startFile(const std::string& path, int showStyle) {
    if (fakeStarter)
        return fakeStarter->startFile(path, showStyle);
    const std::wstring file = toWide(path);
    return !file.empty() && create(file, L"\"" + file + L"\"", showStyle);
}

} // namespace tavrin::platform
