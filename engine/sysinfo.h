// The About box's registry read and system-information start, and the read-me
// command line, kept free of window code so they can run against fakes.
#pragma once

#include "platform/registry.h"

#include <string>

namespace tavrin {

// Shown when no system-information program can be started.
inline constexpr const char* sysInfoUnavailableText = "現時点ではｼｽﾃﾑ情報を使用できません";

// Reads value `ValueName` of key `KeyPath` below `RootKey` into `ValueText`.
// REG_SZ gives the text up to its first zero byte, REG_DWORD its signed decimal
// number; any other type leaves `ValueText` as it was. False, with an empty
// `ValueText`, when the key cannot be opened with all access rights or the value
// cannot be read into 1024 bytes.
bool GetKeyValue(platform::RegKey RootKey, const std::string& KeyPath, const std::string& ValueName,
                 std::string& ValueText);

// Tries to start the system-information program the registry names; true when
// none could be started and the message is to be shown.
bool startSysInfoFailed();

// "NOTEPAD " + the program folder + separator + "readme.txt", unquoted; the
// separator is added even when the folder already ends in one.
std::string readmeCommandLine(const std::string& programFolder);

} // namespace tavrin
