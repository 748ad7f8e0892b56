#include "platform/codepage.h"
#include "platform/codepage_internal.h"
#include "platform/unicode.h"

namespace tavrin::platform {

namespace {

class Utf8CodePage final : public CodePage {
public:
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
    explicit RoundTripCodePage(std::unique_ptr<CodePage> inner) : inner_(std::move(inner)) {}
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
