// A stand-in for the registry: it knows only where the system-information
// program is, taken from the desktop's own system-information program when one
// is installed.
#include "platform/registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace tavrin::platform {

namespace {

constexpr RegKey msinfoKey = 1;

// The first of the known system-information programs found on PATH.
std::string findSysInfoProgram() {
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    for (const char* name : {"hardinfo2", "hardinfo", "kinfocenter"}) {
        std::string_view dirs(path);
        while (!dirs.empty()) {
            const auto colon = dirs.find(':');
            const std::string_view dir = dirs.substr(0, colon);
            dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
            if (dir.empty())
                continue;
            std::string candidate = std::string(dir) + "/" + name;
            struct stat info {};
            if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
    }
    return {};
}

class SystemRegistry final : public Registry {
public:
    // Only the key that names the program's full path exists, and only when a
    // program was found; the folder key has no counterpart here.
    long openKey(RegKey root, const char* subKey, std::uint32_t, RegKey* result) override {
        if (root == hkeyLocalMachine &&
            std::strcmp(subKey, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO") == 0 &&
            !findSysInfoProgram().empty()) {
            *result = msinfoKey;
            return errorSuccess;
        }
        return errorFileNotFound;
    }

    long queryValue(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size) override {
        if (key != msinfoKey || std::strcmp(valueName, "PATH") != 0)
            return errorFileNotFound;
        const std::string program = findSysInfoProgram();
        if (program.empty())
            return errorFileNotFound;
        const auto needed = static_cast<std::uint32_t>(program.size() + 1);
        *type = regSz;
        if (needed > *size) {
            *size = needed;
            return errorMoreData;
        }
        std::memcpy(data, program.c_str(), needed);
        *size = needed;
        return errorSuccess;
    }

    long closeKey(RegKey) override { return errorSuccess; }
};

Registry* fakeRegistry = nullptr;

} // namespace

Registry& registry() {
    static SystemRegistry system;
    return fakeRegistry ? *fakeRegistry : system;
}

void setRegistryForTesting(Registry* fake) {
    fakeRegistry = fake;
}

} // namespace tavrin::platform
