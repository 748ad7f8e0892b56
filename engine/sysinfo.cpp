#include "engine/sysinfo.h"

#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/program.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace tavrin {

namespace {

constexpr std::uint32_t bufferSize = 1024;

// Texts cross to the ANSI calls in the system code page.
std::string toSystem(const std::string& utf8) {
    std::string out;
    return platform::historyCodePage().encode(utf8, out) ? out : utf8;
}

std::string fromSystem(const std::string& bytes) {
    std::string out;
    return platform::historyCodePage().decode(bytes, out) ? out : bytes;
}

} // namespace

bool GetKeyValue(platform::RegKey RootKey, const std::string& KeyPath, const std::string& ValueName,
                 std::string& ValueText) {
    auto& reg = platform::registry();
    platform::RegKey key = 0;
    if (reg.openKey(RootKey, toSystem(KeyPath).c_str(), platform::keyAllAccess, &key) !=
        platform::errorSuccess) {
        ValueText.clear();
        return false;
    }
    std::array<unsigned char, bufferSize> buffer{};
    std::uint32_t type = 0;
    std::uint32_t size = bufferSize;
    const long rc = reg.queryValue(key, toSystem(ValueName).c_str(), &type, buffer.data(), &size);
    bool read = rc == platform::errorSuccess;
    if (!read) {
        ValueText.clear();
    } else if (type == platform::regSz) {
        const void* zero = std::memchr(buffer.data(), 0, buffer.size());
        const std::size_t length =
            zero ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - buffer.data())
                 : buffer.size();
        ValueText = fromSystem(std::string(reinterpret_cast<const char*>(buffer.data()), length));
    } else if (type == platform::regDword) {
        const std::uint32_t bits = std::uint32_t{buffer[0]} | std::uint32_t{buffer[1]} << 8 |
                                   std::uint32_t{buffer[2]} << 16 | std::uint32_t{buffer[3]} << 24;
        ValueText = std::to_string(static_cast<std::int32_t>(bits));
    }
    reg.closeKey(key);
    return read;
}

bool startSysInfoFailed() {
    std::string text;
    if (GetKeyValue(platform::hkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
                    text))
        // Started unchecked: a missing file shows up as a failed start. A value of
        // another type leaves the text empty, which names no program.
        return text.empty() || !platform::startFile(text, platform::showNormal);
    if (GetKeyValue(platform::hkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools Location",
                    "MSINFO", text)) {
        const std::string program = text + platform::separator() + "MSINFO32.EXE";
        if (platform::isOrdinaryFile(program))
            return !platform::startFile(program, platform::showNormal);
    }
    return true;
}

std::string readmeCommandLine(const std::string& programFolder) {
    return "NOTEPAD " + programFolder + platform::separator() + "readme.txt";
}

} // namespace tavrin
