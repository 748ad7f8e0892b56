#include "platform/codepage_internal.h"

#include <cerrno>
#include <iconv.h>
#include <string>

namespace tavrin::platform::detail {

namespace {

// One direction of an iconv conversion, kept open for the life of the object.
class IconvDirection {
public:
    IconvDirection(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~IconvDirection() {
        if (valid()) {
            ::iconv_close(cd_);
        }
    }
    IconvDirection(const IconvDirection&) = delete;
    IconvDirection& operator=(const IconvDirection&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    bool convert(std::string_view in, std::string& out) const {
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string result(in.size() * 4 + 8, '\0');
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = result.data();
        std::size_t dstLeft = result.size();
        if (::iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            return false;
        }
        if (::iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            return false;
        }
        result.resize(result.size() - dstLeft);
        out = std::move(result);
        return true;
    }

private:
    iconv_t cd_;
};

class IconvCodePage final : public CodePage {
public:
    IconvCodePage(int number, const char* name)
        : number_(number), encoder_(name, "UTF-8"), decoder_("UTF-8", name) {}

    bool valid() const { return encoder_.valid() && decoder_.valid(); }
    int number() const override { return number_; }
    bool encode(std::string_view utf8, std::string& out) const override {
        return encoder_.convert(utf8, out);
    }
    bool decode(std::string_view bytes, std::string& out) const override {
        return decoder_.convert(bytes, out);
    }

private:
    int number_;
    IconvDirection encoder_;
    IconvDirection decoder_;
};

} // namespace

int systemCodePageNumber() {
    return 65001;
}

std::unique_ptr<CodePage> makeSystemConverter(int number) {
    const std::string name = number == 932 ? "CP932" : "CP" + std::to_string(number);
    auto page = std::make_unique<IconvCodePage>(number, name.c_str());
    if (!page->valid()) {
        return nullptr;
    }
    return page;
}

} // namespace tavrin::platform::detail
