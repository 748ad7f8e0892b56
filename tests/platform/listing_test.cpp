#include "platform/fs.h"
#include "platform/unicode.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;
using namespace tavrin::platform;
using ::testing::ElementsAre;

namespace {

struct MatchCase {
    const char* name;
    const char* pattern;
    bool matches;
};

class PatternTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(PatternTest, Matches) {
    const auto& c = GetParam();
    EXPECT_EQ(matchesPattern(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Wildcards, PatternTest,
    ::testing::Values(MatchCase{"README", "*.*", true}, MatchCase{"a.jpg", "*.*", true},
                      MatchCase{"a.jpg", "*.jpg", true}, MatchCase{"A.JPG", "*.jpg", true},
                      MatchCase{"a.jpg", "*.JPG", true}, MatchCase{"a.jpeg", "*.jpg", false},
                      MatchCase{"a.jpg.bak", "*.jpg", false}, MatchCase{"photo.", "*.", true},
                      MatchCase{"photo", "*.", false}, MatchCase{"ab.txt", "?b.txt", true},
                      MatchCase{"b.txt", "?b.txt", false}, MatchCase{"写真.txt", "??.txt", true},
                      MatchCase{"aXbYc", "a*b*c", true}, MatchCase{"aXbY", "a*b*c", false},
                      MatchCase{"ÉTÉ.TXT", "été.*", true}, MatchCase{"ＡＢ.txt", "ａｂ.*", true},
                      MatchCase{"a.tar.gz", "*.gz", true}, MatchCase{"", "*", true},
                      MatchCase{"ÉTÉ.Txt", "*.tXT", true}, MatchCase{"été.txt", "?t?.TXT", true},
                      MatchCase{"Ab.Txt", "a?.t*T", true}, MatchCase{"Ab.Txt", "a?.t*x", false}),
    [](const auto& info) {
        // "A.JPG ~ *.jpg" reads "A_JPG_matches_Star_jpg", "写" reads "U5199".
        const auto word = [](std::string_view text) {
            std::string out;
            for (const char32_t c : decodeUtf8(text)) {
                if (c < 0x80 && std::isalnum(static_cast<int>(c))) {
                    out += static_cast<char>(c);
                } else if (c == '*' || c == '?' || c == '.') {
                    out += c == '*' ? "Star" : c == '?' ? "Any" : "_";
                } else {
                    char hex[12];
                    std::snprintf(hex, sizeof hex, "U%04X", static_cast<unsigned>(c));
                    out += hex;
                }
            }
            return out.empty() ? std::string("Empty") : out;
        };
        return word(info.param.name) + (info.param.matches ? "_matches_" : "_misses_") +
               word(info.param.pattern);
    });

TEST(NameOrder, CaseFoldedThenExactBytes) {
    std::vector<std::string> names = {"b.txt",  "B.txt",  "a10.txt", "A.txt", "a.txt", "_x.txt",
                                      "a2.txt", "Ｂ.txt", "é.txt",   "É.txt", "z.txt"};
    sortNames(names);
    // Folded to lower case, "_" (U+005F) comes before the letters.
    EXPECT_THAT(names, ElementsAre("_x.txt", "A.txt", "a.txt", "a10.txt", "a2.txt", "B.txt",
                                   "b.txt", "z.txt", "É.txt", "é.txt", "Ｂ.txt"));
    for (std::size_t i = 1; i < names.size(); ++i) {
        EXPECT_TRUE(nameLess(names[i - 1], names[i]));
        EXPECT_FALSE(nameLess(names[i], names[i - 1]));
    }
    EXPECT_FALSE(nameLess("a", "a"));
}

// Names alike in their first bytes and folded or not: the same order as
// comparing them two by two.
TEST(NameOrder, LongAlikeNamesInTheOrderOfNameLess) {
    std::vector<std::string> names = {"longname", "longnam", "Longname"};
    for (const char* stem : {"longname", "LONGNAME", "longnam", "longnamé", "longname_", "ｌong"}) {
        for (const char* end : {"0.txt", "1.txt", "10.txt", "9.TXT", ""}) {
            names.push_back(std::string(stem) + end);
        }
    }
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(), nameLess);
    std::reverse(names.begin(), names.end());
    sortNames(names);
    EXPECT_EQ(names, expected);
}

TEST(Listing, OrdinaryVisibleMatchingFilesInOrder) {
    const fs::path dir =
        fs::temp_directory_path() / ("tavrin-list-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir / "sub.jpg");
    if (separator() != '/') {
        GTEST_SKIP()
            << "links and dot names are the POSIX rule; the Windows suite tests attributes";
    }
    for (const char* name : {"b.JPG", "a.jpg", "C.jpg", ".hidden.jpg", "d.png", "README"}) {
        std::ofstream(dir / name) << name;
    }
    fs::create_symlink(dir / "a.jpg", dir / "link.jpg");
    fs::create_symlink(dir / "missing", dir / "dangling.jpg");

    Status error;
    EXPECT_THAT(listFiles(dir.string(), "*.jpg", &error),
                ElementsAre("a.jpg", "b.JPG", "C.jpg", "link.jpg"));
    EXPECT_TRUE(error.ok());
    EXPECT_THAT(listFiles(dir.string() + "/", "*.*"),
                ElementsAre("a.jpg", "b.JPG", "C.jpg", "d.png", "link.jpg", "README"));

    listFiles((dir / "nope").string(), "*.*", &error);
    EXPECT_FALSE(error.ok());
    fs::remove_all(dir);
}

// In the program's own folder its history files are never offered for
// renaming, in any letter case; anywhere else they are ordinary files.
TEST(Listing, ProgramFolderLeavesOutTheProgramsOwnFiles) {
    const fs::path dir =
        fs::temp_directory_path() / ("tavrin-own-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::vector<std::string> own = {
        "Old.ini",      "NEW.INI",      "Old.ini.new",       "New.ini.new",
        "old.ini.KEPT", "New.ini.kept", "Tavrin.generation", "tavrin.generation.new"};
    for (const auto& name : own) {
        std::ofstream(dir / name) << name;
    }
    for (const char* name : {"Old.ini.bak", "a.ini", "New.ini2", "Tavrin.generation2"}) {
        std::ofstream(dir / name) << name;
    }
    const std::string folder = dir.string();
    const auto others = ElementsAre("a.ini", "New.ini2", "Old.ini.bak", "Tavrin.generation2");
    setProgramFolderForTesting(folder);
    EXPECT_THAT(listFiles(folder, "*.*"), others);
    EXPECT_THAT(listFiles(folder + std::string(1, separator()), "*.ini"), ElementsAre("a.ini"));
    EXPECT_THAT(listFolder(folder).files, others);
    setProgramFolderForTesting((dir / "elsewhere").string());
    EXPECT_EQ(listFiles(folder, "*.*").size(), own.size() + 4);
    // The user's folder holding the history, as the program folder refuses files.
    setUserStateFolderForTesting(folder);
    EXPECT_THAT(listFiles(folder, "*.*"), others);
    setUserStateFolderForTesting({});
    setProgramFolderForTesting({});
    fs::remove_all(dir);
}

} // namespace
