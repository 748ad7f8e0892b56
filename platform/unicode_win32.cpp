#include "platform/unicode.h"

#include <windows.h>

namespace tavrin::platform {

// Lower case as the system maps it, for the locale-independent table; code
// points outside the basic plane have no simple mapping there and stay as they are.
char32_t foldCase(char32_t c) {
    if (c < 0x80) {
        return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
    }
    if (c > 0xFFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return c;
    }
    wchar_t in = static_cast<wchar_t>(c);
    wchar_t out = in;
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, &in, 1, &out, 1, nullptr, nullptr,
                      0) != 1) {
        return c;
    }
    return static_cast<char32_t>(out);
}

} // namespace tavrin::platform
