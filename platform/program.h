// Starting another program: the text editor for the read-me and the
// system-information program. Neither is waited for.
#pragma once

#include <string>

namespace tavrin::platform {

// Window styles a started program is asked to show itself with.
inline constexpr int showNormal = 1;    // SW_SHOWNORMAL: normal, activated
inline constexpr int showMinimized = 2; // SW_SHOWMINIMIZED: minimised, activated

// Starts a command line and returns at once; true when the program started.
// On Windows the system parses the line and searches for the program. Elsewhere
// the first word is the program and the rest goes to it as one argument, and
// "NOTEPAD" stands for the desktop's default text editor; false when none could
// be started.
bool startProgram(const std::string& commandLine, int showStyle);

// Starts the executable at exactly `path`, without arguments; a path with
// spaces is never split or searched for.
bool startFile(const std::string& path, int showStyle);

// Test-only stand-in for both calls above.
class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    virtual bool startProgram(const std::string& commandLine, int showStyle) = 0;
    virtual bool startFile(const std::string& path, int showStyle) = 0;
};

// Test-only: route startProgram and startFile to `fake` (nullptr restores them).
void setProgramStarterForTesting(ProgramStarter* fake);

} // namespace tavrin::platform
