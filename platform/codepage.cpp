#include "platform/codepage.h"
#include "platform/codepage_internal.h"
#include "platform/unicode.h"

#include <cstdint>
#include <cstring>

namespace tavrin::platform {

namespace {

class Utf8CodePage final : public CodePage {
public:
    Utf8CodePage() { learnAscii(); }
    int number() const override { return 65001; }
    bool encode(std::string_view utf8, std::string& out) const override {
        return copyIfValid(utf8, out);
    }
    bool decode(std::string_view bytes, std::string& out) const override {
        return copyIfValid(bytes, out);
    }

private:
    static bool copyIfValid(std::string_view text, std::string& out) {
        if (!isValidUtf8(text)) {
            return false;
        }
        out.assign(text);
        return true;
    }
};

// Text is representable only when it comes back unchanged: a converter that
// maps "〜" to the byte pair of "～" (as the one used on Linux does, and as
// Windows refuses) would give a file another name on the way back.
class RoundTripCodePage final : public CodePage {
public:
    explicit RoundTripCodePage(std::unique_ptr<CodePage> inner) : inner_(std::move(inner)) {
        learnAscii();
    }
    int number() const override { return inner_->number(); }
    bool encode(std::string_view utf8, std::string& out) const override {
        std::string bytes, back;
        if (!inner_->encode(utf8, bytes) || !inner_->decode(bytes, back) || back != utf8) {
            return false;
        }
        out = std::move(bytes);
        return true;
    }
    bool decode(std::string_view bytes, std::string& out) const override {
        return inner_->decode(bytes, out);
    }

private:
    std::unique_ptr<CodePage> inner_;
};

std::unique_ptr<CodePage>& activeHistoryCodePage() {
    static std::unique_ptr<CodePage> active;
    return active;
}

} // namespace

bool isAscii(std::string_view text) {
    // Eight bytes at a time: names are short, but a folder line may not be.
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        if ((word & 0x8080808080808080u) != 0) {
            return false;
        }
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            return false;
        }
    }
    return true;
}

bool CodePage::encodeAppend(std::string_view utf8, std::string& out) const {
    if (asciiAsIs_ && isAscii(utf8)) {
        out.append(utf8);
        return true;
    }
    std::string bytes;
    if (!encode(utf8, bytes)) {
        return false;
    }
    out.append(bytes);
    return true;
}

void CodePage::learnAscii() {
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) {
        ascii.push_back(static_cast<char>(c));
    }
    std::string encoded, decoded;
    asciiAsIs_ =
        encode(ascii, encoded) && encoded == ascii && decode(ascii, decoded) && decoded == ascii;
}

std::unique_ptr<CodePage> makeCodePage(int number) {
    if (number == 65001) {
        return std::make_unique<Utf8CodePage>();
    }
    auto converter = detail::makeSystemConverter(number);
    if (!converter) {
        return nullptr;
    }
    return std::make_unique<RoundTripCodePage>(std::move(converter));
}

const CodePage& historyCodePage() {
    auto& active = activeHistoryCodePage();
    if (!active) {
        active = makeCodePage(detail::systemCodePageNumber());
        if (!active) {
            active = std::make_unique<Utf8CodePage>();
        }
    }
    return *active;
}

bool setHistoryCodePageForTesting(int number) {
    auto& active = activeHistoryCodePage();
    if (number == 0) {
        active.reset();
        return true;
    }
    auto page = makeCodePage(number);
    if (!page) {
        return false;
    }
    active = std::move(page);
    return true;
}

} // namespace tavrin::platform
