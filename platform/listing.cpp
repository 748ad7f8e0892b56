#include "platform/fs.h"
#include "platform/fs_internal.h"
#include "platform/unicode.h"

#include <algorithm>
#include <filesystem>
#include <numeric>

namespace tavrin::platform {

namespace {

bool matchesEverything(std::string_view pattern) {
    return pattern == "*.*" || pattern == "*";
}

// Wildcard match over folded text, going back to the last "*" on a mismatch.
bool matchFolded(const std::u32string& name, const std::u32string& pattern) {
    std::size_t n = 0, p = 0;
    std::size_t starP = std::u32string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u32string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') {
        ++p;
    }
    return p == pattern.size();
}

bool keyLess(const std::u32string& ka, std::string_view a, const std::u32string& kb,
             std::string_view b) {
    if (ka != kb) {
        return ka < kb;
    }
    return a < b;
}

} // namespace

bool matchesPattern(std::string_view name, std::string_view pattern) {
    if (matchesEverything(pattern)) {
        return true;
    }
    return matchFolded(foldedText(name), foldedText(pattern));
}

bool nameLess(std::string_view a, std::string_view b) {
    return keyLess(foldedText(a), a, foldedText(b), b);
}

void sortNames(std::vector<std::string>& names) {
    std::vector<std::u32string> keys;
    keys.reserve(names.size());
    for (const auto& name : names) {
        keys.push_back(foldedText(name));
    }
    std::vector<std::size_t> order(names.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return keyLess(keys[x], names[x], keys[y], names[y]);
    });
    std::vector<std::string> sorted;
    sorted.reserve(names.size());
    for (const std::size_t i : order) {
        sorted.push_back(std::move(names[i]));
    }
    names = std::move(sorted);
}

std::vector<std::string> listFiles(const std::string& folder, std::string_view pattern,
                                   Status* error) {
    std::vector<std::string> names = detail::ordinaryFileNames(folder, error);
    if (!matchesEverything(pattern)) {
        const std::u32string folded = foldedText(pattern);
        std::erase_if(
            names, [&](const std::string& name) { return !matchFolded(foldedText(name), folded); });
    }
    sortNames(names);
    return names;
}

std::vector<std::string> listFolders(const std::string& folder, Status* error) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(fs::u8path(folder), fs::directory_options::skip_permission_denied,
                              ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError)) {
            continue;
        }
        const auto u8 = it->path().filename().u8string();
        std::string name(u8.begin(), u8.end());
        if (!name.empty() && name.front() != '.') {
            names.push_back(std::move(name));
        }
    }
    if (ec && error != nullptr) {
        *error = Status::failure(ec.message());
    }
    sortNames(names);
    return names;
}

std::string driveOf(const std::string& path) {
    std::string best;
    for (const auto& drive : drives()) {
        const bool prefix = path.compare(0, drive.size(), drive) == 0 &&
                            (path.size() == drive.size() || drive.back() == separator() ||
                             path[drive.size()] == separator());
        if (prefix && drive.size() > best.size()) {
            best = drive;
        }
    }
    return best;
}

} // namespace tavrin::platform
