#include "engine/collection.h"

#include <unordered_map>

namespace tavrin {

std::string_view extensionOf(std::string_view name) {
    const auto dot = name.find('.');
    return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

std::vector<std::string> CollectExtensions(const std::vector<std::string>& names) {
    std::unordered_map<std::string_view, std::size_t> last;
    last.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        last[extensionOf(names[i])] = i;
    }
    std::vector<std::string> out;
    out.reserve(last.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string_view ext = extensionOf(names[i]);
        if (last[ext] == i) {
            out.emplace_back(ext);
        }
    }
    return out;
}

} // namespace tavrin
