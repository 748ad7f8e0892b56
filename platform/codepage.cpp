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

std::unique_ptr<CodePage>& activeHistoryCodePage() {
    static std::unique_ptr<CodePage> active;
    return active;
}

} // namespace

std::unique_ptr<CodePage> makeCodePage(int number) {
    if (number == 65001) {
        return std::make_unique<Utf8CodePage>();
    }
    return detail::makeSystemConverter(number);
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
