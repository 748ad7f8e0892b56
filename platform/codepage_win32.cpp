#include "platform/codepage_internal.h"
#include "platform/win32_text.h"

#include <windows.h>

namespace tavrin::platform::detail {

namespace {

// A Windows code page, converted through UTF-16. Both directions refuse what
// the other side cannot hold instead of putting in a default character.
class WindowsCodePage final : public CodePage {
public:
    explicit WindowsCodePage(UINT number) : number_(number) {}

    int number() const override { return static_cast<int>(number_); }

    bool encode(std::string_view utf8, std::string& out) const override {
        if (utf8.empty()) {
            out.clear();
            return true;
        }
        const int wn = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                           static_cast<int>(utf8.size()), nullptr, 0);
        if (wn <= 0) {
            return false;
        }
        std::wstring wide(static_cast<std::size_t>(wn), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                            static_cast<int>(utf8.size()), wide.data(), wn);
        BOOL lossy = FALSE;
        const int n = WideCharToMultiByte(number_, WC_NO_BEST_FIT_CHARS, wide.data(), wn, nullptr,
                                          0, nullptr, &lossy);
        if (n <= 0 || lossy) {
            return false;
        }
        std::string result(static_cast<std::size_t>(n), '\0');
        WideCharToMultiByte(number_, WC_NO_BEST_FIT_CHARS, wide.data(), wn, result.data(), n,
                            nullptr, &lossy);
        if (lossy) {
            return false;
        }
        out = std::move(result);
        return true;
    }

    bool decode(std::string_view bytes, std::string& out) const override {
        if (bytes.empty()) {
            out.clear();
            return true;
        }
        const int wn = MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, 0);
        if (wn <= 0) {
            return false;
        }
        std::wstring wide(static_cast<std::size_t>(wn), L'\0');
        MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, bytes.data(),
                            static_cast<int>(bytes.size()), wide.data(), wn);
        out = toUtf8(wide);
        return true;
    }

private:
    UINT number_;
};

} // namespace

int systemCodePageNumber() {
    return static_cast<int>(GetACP());
}

std::unique_ptr<CodePage> makeSystemConverter(int number) {
    if (number <= 0 || !IsValidCodePage(static_cast<UINT>(number))) {
        return nullptr;
    }
    return std::make_unique<WindowsCodePage>(static_cast<UINT>(number));
}

} // namespace tavrin::platform::detail
