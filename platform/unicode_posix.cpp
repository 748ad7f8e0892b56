#include "platform/unicode.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace tavrin::platform {

namespace {

// The C.UTF-8 locale knows the case mappings of all of Unicode, whatever
// locale the process runs in; without it only ASCII is folded.
locale_t utf8Locale() {
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return loc;
}

} // namespace

char32_t foldCase(char32_t c) {
    if (c < 0x80) {
        return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
    }
    const locale_t loc = utf8Locale();
    if (loc == static_cast<locale_t>(0) || (c >= 0xD800 && c <= 0xDFFF)) {
        return c;
    }
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), loc));
}

} // namespace tavrin::platform
