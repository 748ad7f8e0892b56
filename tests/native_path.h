// Paths in the window tests, written once for every system: Qt's folders in
// the native form, names as UTF-8 whatever the system's narrow code page is.
#pragma once

#include <QDir>
#include <QString>

#include <filesystem>
#include <string>
#include <string_view>

namespace tavrin::testing {

inline std::filesystem::path pathOf(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).make_preferred();
}

inline std::filesystem::path nativePath(const QString& text) {
    return pathOf(QDir::toNativeSeparators(text).toStdString());
}

// A path as the UTF-8 text the platform layer takes and gives.
inline std::string text(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

// The folder as the history's folder line holds it: ending in the separator.
inline std::string folderText(const std::filesystem::path& folder) {
    return text(folder) + static_cast<char>(std::filesystem::path::preferred_separator);
}

} // namespace tavrin::testing
