#include "platform/win32_path.h"
#include "platform/win32_text.h"

#include <windows.h>

namespace tavrin::platform::detail {

namespace {

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

} // namespace

std::wstring win32Path(std::wstring path) {
    const bool twoSeparators = path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
    if (twoSeparators && path.size() >= 4 && (path[2] == L'?' || path[2] == L'.') &&
        isSeparator(path[3])) {
        return path;
    }
    const bool drive = path.size() >= 3 && path[1] == L':' && isSeparator(path[2]);
    if ((drive || twoSeparators) && path.size() < plainPathLimit) {
        return path; // the common case: no call into the system
    }
    // The same normalisation the system gives a plain path, so that both forms
    // name the same file.
    std::wstring full(path.size() + MAX_PATH, L'\0');
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n);
        n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (n == 0 || n >= full.size()) {
        return path; // the call it is meant for says what is wrong with it
    }
    full.resize(n);
    if (full.size() < plainPathLimit) {
        return path;
    }
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

std::wstring win32Path(std::string_view utf8) {
    return win32Path(toWide(utf8));
}

} // namespace tavrin::platform::detail
