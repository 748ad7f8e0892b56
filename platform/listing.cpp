#include "platform/fs.h"
#include "platform/fs_internal.h"
#include "platform/unicode.h"

#include <algorithm>
#include <utility>

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

bool sameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Leaves the program's own files out of a listing of the program folder.
void dropProgramOwnFiles(const std::string& folder, std::vector<std::string>& names) {
    if (std::none_of(names.begin(), names.end(), isProgramOwnFile) ||
        !detail::isProgramFolder(folder)) {
        return;
    }
    std::erase_if(names, isProgramOwnFile);
}

bool keyLess(std::string_view ka, std::string_view a, std::string_view kb, std::string_view b) {
    if (ka != kb) {
        return ka < kb;
    }
    return a < b;
}

} // namespace

bool isProgramOwnFile(std::string_view name) {
    // Any letter case: on a file system that ignores it, "OLD.INI" is the history.
    for (const std::string_view base : {oldHistoryName, newHistoryName}) {
        if (name.size() >= base.size() && sameLetters(name.substr(0, base.size()), base)) {
            const std::string_view rest = name.substr(base.size());
            if (rest.empty() || sameLetters(rest, pendingSuffix) || sameLetters(rest, keptSuffix)) {
                return true;
            }
        }
    }
    return sameLetters(name, lockFileName);
}

bool matchesPattern(std::string_view name, std::string_view pattern) {
    if (matchesEverything(pattern)) {
        return true;
    }
    return matchFolded(foldedText(name), foldedText(pattern));
}

bool nameLess(std::string_view a, std::string_view b) {
    return keyLess(foldedKey(a), a, foldedKey(b), b);
}

void sortNames(std::vector<std::string>& names) {
    // Each name is folded once; the sort moves (key, name) pairs.
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (auto& name : names) {
        std::string key = foldedKey(name);
        keyed.emplace_back(std::move(key), std::move(name));
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& x, const auto& y) {
        return keyLess(x.first, x.second, y.first, y.second);
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        names[i] = std::move(keyed[i].second);
    }
}

std::vector<std::string> namesMatching(const std::vector<std::string>& names,
                                       std::string_view pattern) {
    if (matchesEverything(pattern)) {
        return names;
    }
    const std::u32string folded = foldedText(pattern);
    std::vector<std::string> matching;
    for (const auto& name : names) {
        if (matchFolded(foldedText(name), folded)) {
            matching.push_back(name);
        }
    }
    return matching;
}

std::vector<std::string> listFiles(const std::string& folder, std::string_view pattern,
                                   Status* error) {
    std::vector<std::string> names = detail::ordinaryFileNames(folder, error);
    dropProgramOwnFiles(folder, names);
    if (!matchesEverything(pattern)) {
        const std::u32string folded = foldedText(pattern);
        std::erase_if(
            names, [&](const std::string& name) { return !matchFolded(foldedText(name), folded); });
    }
    sortNames(names);
    return names;
}

std::vector<std::string> listFolders(const std::string& folder, Status* error) {
    std::vector<std::string> names;
    detail::readFolder(folder, &names, nullptr, error);
    sortNames(names);
    return names;
}

FolderContents listFolder(const std::string& folder, Status* error) {
    FolderContents contents;
    detail::readFolder(folder, &contents.folders, &contents.files, error);
    dropProgramOwnFiles(folder, contents.files);
    sortNames(contents.folders);
    sortNames(contents.files);
    return contents;
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
