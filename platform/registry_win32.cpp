// The registry calls of advapi32 in their ANSI forms.
#include "platform/registry.h"

#include <windows.h>

namespace tavrin::platform {

namespace {

HKEY handle(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

class SystemRegistry final : public Registry {
public:
    long openKey(RegKey root, const char* subKey, std::uint32_t access, RegKey* result) override {
        HKEY opened = nullptr;
        const LONG rc = RegOpenKeyExA(handle(root), subKey, 0, access, &opened);
        *result = reinterpret_cast<RegKey>(opened);
        return rc;
    }

    long queryValue(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size) override {
        DWORD valueType = 0;
        DWORD dataSize = *size;
        const LONG rc =
            RegQueryValueExA(handle(key), valueName, nullptr, &valueType, data, &dataSize);
        *type = valueType;
        *size = dataSize;
        return rc;
    }

    long closeKey(RegKey key) override { return RegCloseKey(handle(key)); }
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
