// UTF-8 decoding and simple case folding, shared by listing, matching and sorting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin::platform {

// Decodes UTF-8; a byte that does not start a valid sequence becomes U+DC80 + byte,
// so every name, valid or not, has a distinct decoding.
std::u32string decodeUtf8(std::string_view text);

// True when `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// The simple case folding of one code point (lower case), as the system knows it.
char32_t foldCase(char32_t c);

// Decodes and folds a whole text.
std::u32string foldedText(std::string_view text);

// The folded text as bytes that compare, byte by byte, in the order of the
// folded code points: a cheap sort key (no decoding for ASCII names).
std::string foldedKey(std::string_view text);

// A hash of foldedKey(text), made without the key for ASCII text.
std::uint64_t foldedKeyHash(std::string_view text);
// The same, continued from the hash of the text before it, which ends where a
// character ends: foldedKeyHash(b, foldedKeyHash(a)) == foldedKeyHash(a + b).
std::uint64_t foldedKeyHash(std::string_view text, std::uint64_t start);

// Number of code points in valid UTF-8 text.
std::size_t codePointCount(std::string_view text);

// Byte offset of the first `count` code points of `text`.
std::size_t byteOffsetOfCodePoints(std::string_view text, std::size_t count);

} // namespace tavrin::platform
