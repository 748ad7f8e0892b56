// The three registry calls the About box reads the system-information program
// with. On Windows they are the ANSI calls of advapi32; elsewhere a stand-in
// answers the two values from the programs installed.
#pragma once

#include <cstdint>

namespace tavrin::platform {

using RegKey = std::uintptr_t;

// Root handles are 32-bit values, sign-extended as Windows does.
inline constexpr RegKey regRoot(std::uint32_t value) {
    return static_cast<RegKey>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}
inline constexpr RegKey hkeyLocalMachine = regRoot(0x80000002u);

inline constexpr std::uint32_t keyAllAccess = 0x2003F;
inline constexpr std::uint32_t regSz = 1;
inline constexpr std::uint32_t regExpandSz = 2;
inline constexpr std::uint32_t regDword = 4;
inline constexpr long errorSuccess = 0;
inline constexpr long errorFileNotFound = 2;
inline constexpr long errorMoreData = 234;

// Texts are in the system code page, as the ANSI calls take them.
class Registry {
public:
    virtual ~Registry() = default;
    virtual long openKey(RegKey root, const char* subKey, std::uint32_t access, RegKey* result) = 0;
    // `size` holds the buffer's size on entry and the data's size on return.
    virtual long queryValue(RegKey key, const char* valueName, std::uint32_t* type,
                            unsigned char* data, std::uint32_t* size) = 0;
    virtual long closeKey(RegKey key) = 0;
};

// The system's registry, or the test's fake.
Registry& registry();

// Test-only: use `fake` instead of the system's registry (nullptr restores it).
void setRegistryForTesting(Registry* fake);

} // namespace tavrin::platform
