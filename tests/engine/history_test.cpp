#include "test_support.h"

#include "engine/history.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"

#include <gmock/gmock.h>

using namespace tavrin;
using namespace tavrin::testing;
using ::testing::ElementsAre;

namespace {

class HistoryTest : public TempFolder {
protected:
    HistoryRead read() {
        tavrinM::SetHistoryPaths();
        return ReadHistory();
    }
    void writeRaw(const std::string& oldBytes, const std::string& newBytes) {
        writeBytes(prog / "Old.ini", oldBytes);
        writeBytes(prog / "New.ini", newBytes);
    }
    static std::vector<std::string> olds(const HistoryRead& h) {
        std::vector<std::string> out;
        for (const auto& p : h.pairs) {
            out.push_back(p.oldName);
        }
        return out;
    }
};

TEST(FolderLine, OnlyAnAbsoluteFolderEndingInTheSeparatorCounts) {
    EXPECT_TRUE(isFolderLine("-" + nativeFolder("/photos/")));
    EXPECT_TRUE(isFolderLine("-" + nativeFolder("/")));
    EXPECT_FALSE(isFolderLine("-" + nativeFolder("/photos")));
    EXPECT_FALSE(isFolderLine("-" + nativeFolder("photos/")));
    EXPECT_FALSE(isFolderLine("-draft.txt"));
    EXPECT_FALSE(isFolderLine("-"));
    EXPECT_FALSE(isFolderLine("a.jpg"));
}

TEST_F(HistoryTest, ReadsPairsInFileOrderUnderTheirFolders) {
    const std::string other = nativeFolder("/other/");
    writeRaw(folderLine() + "a.jpg\r\n-" + other + "\r\nb.jpg\r\n",
             folderLine() + "x0.jpg\r\n-" + other + "\r\nx1.jpg\r\n");
    const HistoryRead h = read();
    ASSERT_TRUE(h.ok) << h.reason;
    ASSERT_EQ(h.pairs.size(), 2u);
    EXPECT_EQ(h.pairs[0].folder, utf8(dir) + sep());
    EXPECT_EQ(h.pairs[0].newName, "x0.jpg");
    EXPECT_EQ(h.pairs[1].folder, other);
    EXPECT_EQ(h.pairs[1].oldName, "b.jpg");
}

TEST_F(HistoryTest, NameBeginningWithDashIsAPairNotAFolder) {
    writeRaw(folderLine() + "-draft.txt\r\n-x/\r\n", folderLine() + "n0.txt\r\nn1.txt\r\n");
    const HistoryRead h = read();
    ASSERT_TRUE(h.ok);
    EXPECT_THAT(olds(h), ElementsAre("-draft.txt", "-x/"));
}

TEST_F(HistoryTest, UnfinishedLastPairIsLeftOut) {
    // A killed run leaves a last line without its CR LF, or an Old.ini line
    // without its New.ini partner; neither rename was tried.
    const std::string head = folderLine() + "a.jpg\r\n";
    const std::string newHead = folderLine() + "n0.jpg\r\n";
    writeRaw(head + "b.j", newHead);
    EXPECT_THAT(olds(read()), ElementsAre("a.jpg"));
    writeRaw(head + "b.jpg\r\n", newHead);
    EXPECT_THAT(olds(read()), ElementsAre("a.jpg"));
    writeRaw(head + "b.jpg\r\n", newHead + "n1.j");
    EXPECT_THAT(olds(read()), ElementsAre("a.jpg"));
    writeRaw(folderLine(), "");
    EXPECT_TRUE(read().pairs.empty());
    EXPECT_TRUE(read().ok);
}

TEST_F(HistoryTest, ExtraNewLinesAreIgnored) {
    writeRaw(folderLine() + "a.jpg\r\n", folderLine() + "n0.jpg\r\nn1.jpg\r\n");
    const HistoryRead h = read();
    ASSERT_TRUE(h.ok);
    EXPECT_THAT(olds(h), ElementsAre("a.jpg"));
}

TEST_F(HistoryTest, BrokenHistoriesAreReportedWithTheirFile) {
    struct Case {
        std::string oldBytes, newBytes;
        bool newMissing;
        std::string failingFile;
    };
    const std::string f = folderLine();
    const std::vector<Case> cases = {
        {f + "a\r\nb\r\nc\r\n", f + "x\r\n", false, "New.ini"}, // New.ini ends early
        {f + "a\r\n", "", true, "New.ini"},                     // New.ini missing
        {"a\r\n", "x\r\n", false, "Old.ini"},                   // no folder line
    };
    for (const auto& c : cases) {
        writeRaw(c.oldBytes, c.newBytes);
        if (c.newMissing) {
            fs::remove(prog / "New.ini");
        }
        const HistoryRead h = read();
        EXPECT_FALSE(h.ok) << c.oldBytes;
        EXPECT_EQ(h.path, (prog / c.failingFile).string()) << c.oldBytes;
        EXPECT_FALSE(h.reason.empty());
        EXPECT_TRUE(h.pairs.empty());
    }
    fs::remove(prog / "Old.ini");
    EXPECT_FALSE(read().ok);
}

TEST_F(HistoryTest, CodePage932BytesRoundTrip) {
    ASSERT_TRUE(platform::setHistoryCodePageForTesting(932));
    // 写真 is double-byte, ｶﾒﾗ half-width katakana (one byte each), 　 an ideographic space.
    makeFiles({"写真　ｶﾒﾗ.jpg"});
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"写真　ｶﾒﾗ.jpg"}, "旅"), act), RunEnding::Completed);
    EXPECT_EQ(oldIni(), folderLine() + "\x8E\xCA\x90\x5E\x81\x40\xB6\xD2\xD7.jpg\r\n");
    EXPECT_EQ(newIni(), folderLine() + "\x97\xB7"
                                       "0.jpg\r\n");

    const HistoryRead h = read();
    ASSERT_TRUE(h.ok);
    ASSERT_EQ(h.pairs.size(), 1u);
    EXPECT_EQ(h.pairs[0].oldName, "写真　ｶﾒﾗ.jpg");
    EXPECT_EQ(h.pairs[0].newName, "旅0.jpg");

    // A lone lead byte is not text in code page 932.
    writeRaw(folderLine() + "\x8E\r\n", folderLine() + "a\r\n");
    EXPECT_FALSE(read().ok);
}

} // namespace
