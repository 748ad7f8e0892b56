#include "platform/fs.h"
#include "platform/unicode.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;
using namespace tavrin::platform;

namespace {

int sign(int v) {
    return (v > 0) - (v < 0);
}

// The byte key sorts exactly as the folded code points do, for valid and
// broken UTF-8 alike, and its hash tells the same names apart.
TEST(FoldedKey, OrdersAsTheFoldedCodePoints) {
    const std::vector<std::string> pieces = {"a",
                                             "A",
                                             "z",
                                             "_",
                                             "0",
                                             "é",
                                             "É",
                                             "ß",
                                             "写",
                                             "ｶ",
                                             "Ａ",
                                             "ａ",
                                             "😀",
                                             "\xff",
                                             "\xc3",
                                             "\x80",
                                             "\xed\xa0\x80",
                                             "~",
                                             "\x7f"};
    std::mt19937 gen(7);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1), length(0, 4);
    const auto randomName = [&] {
        std::string name;
        for (std::size_t n = length(gen); n > 0; --n) {
            name += pieces[pick(gen)];
        }
        return name;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string a = randomName(), b = randomName();
        ASSERT_EQ(sign(foldedKey(a).compare(foldedKey(b))),
                  sign(foldedText(a).compare(foldedText(b))))
            << '"' << a << "\" vs \"" << b << '"';
        // The run's claimed names hash the key without making it.
        ASSERT_EQ(foldedKeyHash(a) == foldedKeyHash(b), foldedKey(a) == foldedKey(b)) << a << b;
        // A path's hash goes on from its folder's.
        ASSERT_EQ(foldedKeyHash(b, foldedKeyHash(a + "/")), foldedKeyHash(a + "/" + b)) << a << b;
    }
}

TEST(FolderContents, OneReadingGivesWhatTheTwoListingsGive) {
    const fs::path dir =
        fs::temp_directory_path() / ("tavrin-contents-" + std::to_string(std::random_device{}()));
    for (const char* folder : {"Sub", "alpha", ".git", "写真"}) {
        fs::create_directories(dir / fs::u8path(folder));
    }
    for (const char* file : {"b.txt", "A.jpg", ".hidden", "README", "旅.jpg"}) {
        std::ofstream(dir / fs::u8path(file)) << file;
    }
    fs::create_directory_symlink(dir / "alpha", dir / "link-to-folder");
    fs::create_symlink(dir / "b.txt", dir / "link-to-file");
    fs::create_symlink(dir / "missing", dir / "dangling");

    Status error;
    const FolderContents contents = listFolder(dir.string(), &error);
    EXPECT_TRUE(error.ok());
    EXPECT_EQ(contents.folders, listFolders(dir.string()));
    EXPECT_EQ(contents.files, listFiles(dir.string(), "*.*"));
    EXPECT_THAT(contents.folders, ::testing::ElementsAre("alpha", "link-to-folder", "Sub", "写真"));
    EXPECT_THAT(contents.files,
                ::testing::ElementsAre("A.jpg", "b.txt", "link-to-file", "README", "旅.jpg"));

    const FolderContents none = listFolder((dir / "gone").string(), &error);
    EXPECT_FALSE(error.ok());
    EXPECT_TRUE(none.folders.empty() && none.files.empty());
    fs::remove_all(dir);
}

TEST(NamesMatching, KeepsTheOrderOfTheNamesGiven) {
    const std::vector<std::string> names = {"z.JPG", "a.jpg", "b.png", "c.jpg.bak", "D.Jpg"};
    EXPECT_THAT(namesMatching(names, "*.jpg"), ::testing::ElementsAre("z.JPG", "a.jpg", "D.Jpg"));
    EXPECT_EQ(namesMatching(names, "*.*"), names);
    EXPECT_TRUE(namesMatching(names, "*.gif").empty());
}

} // namespace
