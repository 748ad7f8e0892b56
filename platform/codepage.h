// The history code page: the system's narrow code page (the ANSI code page on
// Windows, UTF-8 elsewhere), behind one interface so tests can run code page 932
// on every platform.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tavrin::platform {

class CodePage {
public:
    virtual ~CodePage() = default;
    virtual int number() const = 0;
    // UTF-8 to the code page; false when a character cannot be represented.
    virtual bool encode(std::string_view utf8, std::string& out) const = 0;
    // The code page to UTF-8; false when the bytes are not valid in it.
    virtual bool decode(std::string_view bytes, std::string& out) const = 0;

    // Appends `utf8` in the code page to `out`; false, appending nothing, when
    // a character cannot be represented. ASCII text is appended as it is where
    // the code page writes ASCII as ASCII, which every ANSI code page does.
    bool encodeAppend(std::string_view utf8, std::string& out) const;

    // Whether ASCII text is written as it is.
    bool keepsAscii() const { return asciiAsIs_; }

protected:
    // For the code pages that convert: whether ASCII comes out unchanged,
    // asked once of `encode` and `decode` when the code page is made.
    void learnAscii();

private:
    bool asciiAsIs_ = false;
};

// True when `text` is ASCII alone.
bool isAscii(std::string_view text);

// Code page `number` (65001 is UTF-8, 932 is Shift_JIS as Windows has it), or
// nullptr when this system cannot convert it.
std::unique_ptr<CodePage> makeCodePage(int number);

// The code page the history files are written in.
const CodePage& historyCodePage();

// Test-only: use code page `number` for the history (0 restores the system's).
// Returns false when the code page is not available.
bool setHistoryCodePageForTesting(int number);

} // namespace tavrin::platform
