#include "platform/unicode.h"
#include "platform/name_hashes.h"

namespace tavrin::platform {

namespace {

// Decodes one code point at `i`; returns its length in bytes, 0 when the bytes
// there do not form a valid, shortest sequence.
std::size_t decodeOne(std::string_view s, std::size_t i, char32_t& out) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    std::size_t len;
    char32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (overlong || surrogate || cp > 0x10FFFF) {
        return 0;
    }
    out = cp;
    return len;
}

} // namespace

std::u32string decodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t len = decodeOne(text, i, cp);
        if (len == 0) {
            out.push_back(0xDC80 + static_cast<unsigned char>(text[i]));
            ++i;
        } else {
            out.push_back(cp);
            i += len;
        }
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i; // ASCII, as most of a name is, without decoding
            continue;
        }
        char32_t cp;
        const std::size_t len = decodeOne(text, i, cp);
        if (len == 0) {
            return false;
        }
        i += len;
    }
    return true;
}

std::u32string foldedText(std::string_view text) {
    std::u32string out = decodeUtf8(text);
    for (char32_t& c : out) {
        c = foldCase(c);
    }
    return out;
}

std::string foldedKey(std::string_view text) {
    std::string key(text);
    bool ascii = true;
    for (char& c : key) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    if (ascii) {
        return key;
    }
    // UTF-8's byte order is the order of its code points; the stand-ins for bad
    // bytes (U+DC80 up) are written the same way, so they keep their place too.
    key.clear();
    for (const char32_t c : foldedText(text)) {
        if (c < 0x80) {
            key.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            key.push_back(static_cast<char>(0xC0 | (c >> 6)));
            key.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            key.push_back(static_cast<char>(0xE0 | (c >> 12)));
            key.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            key.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            key.push_back(static_cast<char>(0xF0 | (c >> 18)));
            key.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            key.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            key.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return key;
}

std::uint64_t foldedKeyHash(std::string_view text) {
    return foldedKeyHash(text, detail::hashStart);
}

std::uint64_t foldedKeyHash(std::string_view text, std::uint64_t start) {
    std::uint64_t hash = start;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80) {
            hash = start;
            for (const char k : foldedKey(text)) {
                hash = detail::hashStep(hash, static_cast<unsigned char>(k));
            }
            return hash;
        }
        hash = detail::hashStep(hash, c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    return hash;
}

std::size_t codePointCount(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++n;
        }
    }
    return n;
}

std::size_t byteOffsetOfCodePoints(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count) {
                return i;
            }
            ++seen;
        }
    }
    return text.size();
}

} // namespace tavrin::platform
