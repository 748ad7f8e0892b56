#include "engine/collection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

using namespace tavrin;
using ::testing::ElementsAre;

namespace {

// The removal of repeats as the extension list once did it: on the list itself,
// restarting after every removal.
std::vector<std::string> quadraticCollection(const std::vector<std::string>& names) {
    std::vector<std::string> list;
    for (const auto& name : names) {
        const auto dot = name.find('.');
        list.push_back(dot == std::string::npos ? name : name.substr(dot + 1));
    }
    bool removed = true;
    while (removed) {
        removed = false;
        const std::size_t count = list.size();
        for (std::size_t i = 0; i < count && !removed; ++i) {
            for (std::size_t j = 0; j < list.size() && !removed; ++j) {
                if (j != i && list[i] == list[j]) {
                    list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
                    removed = true;
                }
            }
        }
    }
    return list;
}

TEST(Collection, ExtensionIsEverythingAfterTheFirstDot) {
    EXPECT_EQ(extensionOf("archive.tar.gz"), "tar.gz");
    EXPECT_EQ(extensionOf("a.b.c"), "b.c");
    EXPECT_EQ(extensionOf("README"), "README");
    EXPECT_EQ(extensionOf("trailing."), "");
    EXPECT_EQ(extensionOf("写真.ＪＰＧ"), "ＪＰＧ");
}

TEST(Collection, LastOccurrencesInTheirOrder) {
    EXPECT_THAT(CollectExtensions({"a.txt", "b.jpg", "c.txt", "d.gif", "e.jpg"}),
                ElementsAre("txt", "gif", "jpg"));
    EXPECT_THAT(CollectExtensions({"A.TXT", "b.txt"}), ElementsAre("TXT", "txt"));
    EXPECT_THAT(CollectExtensions({"x.", "README", "y."}), ElementsAre("README", ""));
    EXPECT_TRUE(CollectExtensions({}).empty());
}

TEST(Collection, AgreesWithTheQuadraticRemovalOnRandomLists) {
    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    const std::vector<std::string> exts = {"txt", "TXT", "jpg", "tar.gz", "", "a.b", "写真"};
    for (int round = 0; round < 500; ++round) {
        std::vector<std::string> names;
        const int count = std::uniform_int_distribution<int>(0, 30)(rng);
        for (int i = 0; i < count; ++i) {
            const auto& ext =
                exts[std::uniform_int_distribution<std::size_t>(0, exts.size() - 1)(rng)];
            const bool noDot = std::uniform_int_distribution<int>(0, 9)(rng) == 0;
            names.push_back(noDot ? ext + "NODOT" : "f" + std::to_string(i) + "." + ext);
        }
        ASSERT_EQ(CollectExtensions(names), quadraticCollection(names)) << "seed " << seed;
    }
}

} // namespace
