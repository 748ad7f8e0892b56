// The form of a path that the Win32 file calls take at any length.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tavrin::platform::detail {

// Paths shorter than this reach every Win32 file call as they are. It is the
// limit of CreateDirectoryW, the lowest of the calls: MAX_PATH less room for
// an 8.3 name.
constexpr std::size_t plainPathLimit = 248;

// The form of `path` to hand to a Win32 file call. A path shorter than
// plainPathLimit, also once made absolute, goes as it is. A longer one is made
// absolute and normalised by the system, as every plain path is ("/" becomes
// "\", "." and ".." parts and doubled separators go, and trailing dots and
// spaces of the last part), then prefixed "\\?\" ("\\?\UNC\" for a share): the
// system passes that form to the file system without the 260-character limit
// it otherwise keeps unless the program and the system both lift it. A path
// already in a "\\?\" or "\\.\" form goes as it is: the caller chose it.
std::wstring win32Path(std::wstring path);
std::wstring win32Path(std::string_view utf8);

} // namespace tavrin::platform::detail
