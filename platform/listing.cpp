#include "platform/fs.h"
#include "platform/fs_internal.h"
#include "platform/unicode.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <iterator>
#include <utility>

namespace tavrin::platform {

namespace {

bool matchesEverything(std::string_view pattern) {
    return pattern == "*.*" || pattern == "*";
}

// Wildcard match over folded text, going back to the last "*" on a mismatch.
// `fold` folds a character of the name; the pattern is folded already.
template <typename Name, typename Pattern, typename Fold>
bool matchFolded(const Name& name, const Pattern& pattern, Fold fold) {
    std::size_t n = 0, p = 0;
    std::size_t starP = Pattern::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == fold(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != Pattern::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A pattern folded once for matching many names. An ASCII name against an
// ASCII pattern folds byte by byte, as folding does for ASCII, without being
// decoded; any other name is decoded and folded in full (a non-ASCII letter
// may fold to an ASCII one).
class FoldedPattern {
public:
    explicit FoldedPattern(std::string_view pattern)
        : folded_(foldedText(pattern)), ascii_(isAscii(pattern)) {
        if (ascii_) {
            asciiFolded_.reserve(pattern.size());
            std::transform(pattern.begin(), pattern.end(), std::back_inserter(asciiFolded_),
                           lowerAscii);
        }
    }

    bool matches(std::string_view name) const {
        if (ascii_ && isAscii(name)) {
            return matchFolded(name, asciiFolded_, lowerAscii);
        }
        return matchFolded(foldedText(name), folded_, [](char32_t c) { return c; });
    }

private:
    std::u32string folded_;
    bool ascii_;
    std::string asciiFolded_;
};

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
    return sameLetters(name, lockFileName) ||
           (name.size() >= generationFileName.size() &&
            sameLetters(name.substr(0, generationFileName.size()), generationFileName) &&
            (name.size() == generationFileName.size() ||
             sameLetters(name.substr(generationFileName.size()), pendingSuffix)));
}

bool matchesPattern(std::string_view name, std::string_view pattern) {
    if (matchesEverything(pattern)) {
        return true;
    }
    return FoldedPattern(pattern).matches(name);
}

bool nameLess(std::string_view a, std::string_view b) {
    return keyLess(foldedKey(a), a, foldedKey(b), b);
}

void sortNames(std::vector<std::string>& names) {
    // The sort moves small entries, not the names, and most comparisons end
    // at the keys' first eight bytes, held in the entry. Each name is folded
    // once, and only when folding changes it (a lower-case ASCII name is its
    // own key).
    struct Entry {
        std::uint64_t head; // the key's first bytes, big-endian, zero-padded
        std::string_view key;
        std::size_t index;
    };
    std::deque<std::string> keys; // stays in place as it grows, under the entries' views
    std::vector<Entry> entries;
    entries.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        const bool folds = std::any_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80 || (c >= 'A' && c <= 'Z');
        });
        std::string_view key = name;
        if (folds) {
            keys.push_back(foldedKey(name));
            key = keys.back();
        }
        std::uint64_t head = 0;
        for (std::size_t b = 0; b < 8; ++b) {
            head = head << 8 | (b < key.size() ? static_cast<unsigned char>(key[b]) : 0U);
        }
        entries.push_back({head, key, i});
    }
    std::sort(entries.begin(), entries.end(), [&names](const Entry& x, const Entry& y) {
        if (x.head != y.head) {
            return x.head < y.head;
        }
        return keyLess(x.key, names[x.index], y.key, names[y.index]);
    });
    std::vector<std::string> sorted;
    sorted.reserve(names.size());
    for (const Entry& e : entries) {
        sorted.push_back(std::move(names[e.index]));
    }
    names = std::move(sorted);
}

std::vector<std::string> namesMatching(const std::vector<std::string>& names,
                                       std::string_view pattern) {
    if (matchesEverything(pattern)) {
        return names;
    }
    const FoldedPattern folded(pattern);
    std::vector<std::string> matching;
    for (const auto& name : names) {
        if (folded.matches(name)) {
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
        const FoldedPattern folded(pattern);
        std::erase_if(names, [&](const std::string& name) { return !folded.matches(name); });
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
