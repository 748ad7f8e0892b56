#include "platform/fs.h"

#include <windows.h>

namespace tavrin::platform {

std::vector<std::string> drives() {
    std::vector<std::string> out;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (mask & (1u << i)) {
            out.push_back(std::string(1, static_cast<char>('A' + i)) + ":\\");
        }
    }
    return out;
}

} // namespace tavrin::platform
