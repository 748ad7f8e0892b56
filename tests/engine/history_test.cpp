#include "test_support.h"

#include "engine/history.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"

#include <gmock/gmock.h>

using namespace tavrin;
using namespace tavrin::testing;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

class HistoryTest : public TempFolder {
protected:
    HistoryRead read() {
        tavrinM::SetHistoryPaths();
        return ReadHistory();
    }
    std::string f() const { return folderLine(); }
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

// Pairs share one buffer of names and one entry per run of a folder: dropping
// the last pair of a folder drops its folder, and the next pair gets its own.
TEST(HistoryPairs, EachPairKeepsItsFolderAndNamesAsPairsComeAndGo) {
    HistoryPairs p;
    p.add("/a/", "1.jpg", "n1.jpg");
    p.add("/a/", "2.jpg", "");
    p.add("/b/", "3.jpg", "n3.jpg");
    p.removeLast();
    p.add("/c/", "4.jpg", "n4.jpg");
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[1].folder, "/a/");
    EXPECT_EQ(p[1].newName, "");
    EXPECT_EQ(p[2].folder, "/c/");
    EXPECT_EQ(p[2].oldName, "4.jpg");
    EXPECT_EQ(p.newName(2), "n4.jpg");
    p.removeLast();
    p.removeLast();
    p.removeLast();
    EXPECT_TRUE(p.empty());
    p.add("/d/", "5.jpg", "n5.jpg");
    EXPECT_EQ(p[0].folder, "/d/");
    EXPECT_EQ(p[0].oldName, "5.jpg");
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
    // A killed run leaves a last line without its CR LF; its rename was never tried.
    const std::string head = folderLine() + "a.jpg\r\n";
    const std::string newHead = folderLine() + "n0.jpg\r\n";
    writeRaw(head + "b.j", newHead);
    EXPECT_THAT(olds(read()), ElementsAre("a.jpg"));
    // A whole Old.ini line without its partner comes from no writer of ours
    // (New.ini is durable first): it is listed without a new name, to be reported.
    for (const std::string& newBytes : {newHead, newHead + "n1.j"}) {
        writeRaw(head + "b.jpg\r\n", newBytes);
        const HistoryRead h = read();
        EXPECT_THAT(olds(h), ElementsAre("a.jpg", "b.jpg"));
        EXPECT_EQ(h.pairs.newName(h.pairs.size() - 1), "");
    }
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

// A damaged history is reported with its file and kept as it is: neither read
// as an empty one nor deleted as restored.
TEST_F(HistoryTest, DamagedHistoriesAreUnreadableAndKept) {
    struct Case {
        const char* what;
        std::string oldBytes, newBytes;
        std::string failingFile;
        HistoryLimits limits = {};
    };
    const std::string f = folderLine();
    const std::string g = "-" + nativeFolder("/other/") + "\r\n";
    const std::string lf = "-" + utf8(dir) + sep() + "\n";
    const std::vector<Case> cases = {
        {"New.ini ends early", f + "a\r\nb\r\nc\r\n", f + "x\r\n", "New.ini"},
        {"no folder line", "a\r\n", "x\r\n", "Old.ini"},
        {"LF line ends", lf + "a.jpg\n", lf + "x.jpg\n", "Old.ini"},
        {"CR line ends", "-" + utf8(dir) + sep() + "\ra.jpg\r", f, "Old.ini"},
        {"bytes without CR LF", "\x93\x01\x7F garbage", f, "Old.ini"},
        {"empty Old.ini", "", f, "Old.ini"},
        {"folder line cut short", f.substr(0, f.size() - 3), f, "Old.ini"},
        {"a bare LF inside a line", f + "a\nb.jpg\r\n", f + "x.jpg\r\n", "Old.ini"},
        {"a bare CR in New.ini", f + "a.jpg\r\n", f + "x\r.jpg\r\n", "New.ini"},
        // Old.ini of one run beside New.ini of another.
        {"folder lines differ", f + "a.jpg\r\n", g + "x.jpg\r\n", "New.ini"},
        {"a folder line in New.ini only", f + "a.jpg\r\nb.jpg\r\n", f + "x.jpg\r\n" + g, "New.ini"},
        {"more lines than a history holds",
         f + "a\r\nb\r\n",
         f + "x\r\ny\r\n",
         "Old.ini",
         {.lines = 2}},
        {"a file larger than a history",
         f + "a.jpg\r\n",
         f + "x.jpg\r\n",
         "Old.ini",
         {.fileBytes = f.size() + 6}},
        {"a line longer than any path",
         f + std::string(historyLimits().lineBytes + 1, 'a') + "\r\n", f + "x\r\n", "Old.ini"},
        {"a New.ini line longer than any path", f + "a\r\n",
         f + std::string(historyLimits().lineBytes + 1, 'x') + "\r\n", "New.ini"},
    };
    for (const auto& c : cases) {
        setHistoryLimitsForTesting(c.limits);
        writeRaw(c.oldBytes, c.newBytes);
        const HistoryRead h = read();
        EXPECT_FALSE(h.ok) << c.what;
        EXPECT_EQ(h.path, utf8(prog / c.failingFile)) << c.what;
        EXPECT_FALSE(h.reason.empty()) << c.what;
        const RestoreResult r = RestoreNames();
        EXPECT_EQ(r.problem, RestoreResult::Problem::Unreadable) << c.what;
        EXPECT_EQ(oldIni(), c.oldBytes) << c.what;
        EXPECT_EQ(newIni(), c.newBytes) << c.what;
    }
    // Exactly at every limit: read.
    writeRaw(f + "a\r\n", f + "x\r\n");
    setHistoryLimitsForTesting({.fileBytes = f.size() + 3, .lines = 2, .lineBytes = f.size() - 2});
    EXPECT_TRUE(read().ok) << read().reason;
    setHistoryLimitsForTesting({});
    // A sparse Old.ini far beyond the limit is refused by its size, unread.
    writeRaw(f, f);
    fs::resize_file(prog / "Old.ini", std::uintmax_t{1} << 32);
    EXPECT_EQ(read().reason, "ファイルが大きすぎます（読めるのは 67108864 バイトまでです）");
    EXPECT_EQ(RestoreNames().problem, RestoreResult::Problem::Unreadable);
    EXPECT_EQ(fs::file_size(prog / "Old.ini"), std::uintmax_t{1} << 32);
    // Missing files: New.ini only matters while Old.ini names a file.
    writeRaw(f + "a\r\n", "");
    fs::remove(prog / "New.ini");
    EXPECT_EQ(read().path, utf8(prog / "New.ini"));
    writeRaw(f, "");
    fs::remove(prog / "New.ini");
    EXPECT_TRUE(read().ok);
    fs::remove(prog / "Old.ini");
    EXPECT_FALSE(read().ok);
}

// Pending files count only as written with the history beside them, so that
// no pair of one run is ever read with a pair of another.
TEST_F(HistoryTest, PendingFilesAreFinishedOnlyOverTheHistoryTheyWereMadeFrom) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files; // name, bytes
        std::vector<std::string> olds;                          // the history read
    };
    const std::string f = folderLine();
    const std::string g = "-" + nativeFolder("/other/") + "\r\n";
    const std::vector<Case> cases = {
        {"a rewrite with New.ini moved: Old.ini.new goes on",
         {{"New.ini", f + "n1.txt\r\n"}, {"Old.ini.new", f + "b.txt\r\n"}},
         {"b.txt"}},
        {"a leftover of another history is dropped",
         {{"Old.ini.new", f + "b.txt\r\nc.txt\r\n"}},
         {"a.txt"}},
        {"a new history with its first pair counts",
         {{"Old.ini.new", g + "x.txt\r\n"}, {"New.ini.new", g + "y.txt\r\n"}},
         {"x.txt"}},
        {"a new history without a pair does not",
         {{"Old.ini.new", g}, {"New.ini.new", g}},
         {"a.txt"}},
        {"a rewrite cut short does not",
         {{"Old.ini.new", f + "b.txt\r\nc.txt\r\n"}, {"New.ini.new", f + "n1.txt\r\n"}},
         {"a.txt"}},
        {"a lone New.ini.new does not", {{"New.ini.new", g + "y.txt\r\n"}}, {"a.txt"}},
    };
    for (const auto& c : cases) {
        fs::remove_all(prog);
        fs::create_directory(prog);
        writeRaw(f + "a.txt\r\n", f + "n0.txt\r\n");
        for (const auto& [name, bytes] : c.files) {
            writeBytes(prog / name, bytes);
        }
        const auto files = entries(prog);
        EXPECT_THAT(olds(read()), ElementsAreArray(c.olds)) << c.what;
        EXPECT_EQ(entries(prog), files) << c.what << ": reading writes nothing";
        // None of the files is there: the restore keeps every pair, as the history now.
        const RestoreResult r = RestoreNames();
        EXPECT_EQ(r.failed.size(), c.olds.size()) << c.what;
        EXPECT_THAT(entries(prog), ElementsAre("New.ini", "Old.ini")) << c.what;
        EXPECT_THAT(olds(read()), ElementsAreArray(c.olds)) << c.what;
    }
    // An Old.ini.new that cannot be read may count: nothing is read, nothing dropped.
    fs::create_directory(prog / "Old.ini.new");
    EXPECT_EQ(read().path, utf8(prog / "Old.ini.new"));
    EXPECT_TRUE(fs::is_directory(prog / "Old.ini.new"));
}

// A restore killed between keeping a batch's pairs and cutting the batch off
// Old.ini left them in both: each counts once, in file order. Here the batch
// was c.txt to e.txt, of which d.txt was restored; f.txt was kept before.
TEST_F(HistoryTest, KeptPairsOfAStoppedRestoreFollowTheHistory) {
    const std::string f = folderLine();
    writeRaw(f + "a.txt\r\nb.txt\r\nc.txt\r\nd.txt\r\ne.txt\r\n",
             f + "n0.txt\r\nn1.txt\r\nn2.txt\r\nn3.txt\r\nn4.txt\r\n");
    writeBytes(prog / "Old.ini.kept", f + "f.txt\r\ne.txt\r\nc.txt\r\n");
    writeBytes(prog / "New.ini.kept", f + "n5.txt\r\nn4.txt\r\nn2.txt\r\n");
    EXPECT_THAT(olds(read()), ElementsAre("a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.txt"));
    makeFiles({"n0.txt", "n1.txt", "n2.txt", "d.txt", "n4.txt", "n5.txt"});
    const RestoreResult r = RestoreNames();
    EXPECT_EQ(r.restored, 6);
    EXPECT_THAT(entries(dir), ElementsAre("a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.txt"));
    EXPECT_TRUE(entries(prog).empty());
}

// A stale rewrite (a restore killed between its two moves) is never finished
// over the history of a later run.
TEST_F(HistoryTest, LeftoverRewriteIsNeverAppliedToALaterRun) {
    for (const bool inStep : {true, false}) {
        fs::remove_all(prog);
        fs::create_directory(prog);
        writeRaw(f() + "b.txt\r\nz.txt\r\n", f() + "n1.txt\r\n");
        writeBytes(prog / "Old.ini.new", f() + "b.txt\r\n" + (inStep ? "" : "z.txt\r\n"));
        makeFiles({"a.jpg", "b.jpg", "c.jpg"});
        const auto before = contents();
        RecordingActions act;
        ASSERT_EQ(RenameRun(inputs({"a.jpg", "b.jpg", "c.jpg"}), act), RunEnding::Completed);
        const RestoreResult r = read().ok ? RestoreNames() : RestoreResult{};
        EXPECT_EQ(r.restored, 3);
        EXPECT_TRUE(r.failed.empty());
        EXPECT_EQ(contents(), before);
        EXPECT_TRUE(entries(prog).empty());
    }
}

// A link in place of a history file is refused, never written through.
TEST_F(HistoryTest, LinkInPlaceOfAHistoryFileIsRefused) {
    if (platform::separator() != '/') {
        GTEST_SKIP() << "links need privileges on Windows";
    }
    for (const char* name : {"Old.ini", "New.ini"}) {
        fs::remove_all(prog);
        fs::create_directory(prog);
        writeRaw(folderLine() + "a.jpg\r\n", folderLine() + "n0.jpg\r\n");
        writeBytes(root / "victim", "victim");
        fs::remove(prog / name);
        fs::create_symlink(root / "victim", prog / name);
        makeFiles({"b.jpg"});
        RecordingActions act;
        EXPECT_EQ(RenameRun(inputs({"b.jpg"}), act), RunEnding::HistoryFailed) << name;
        EXPECT_NE(messages.back().find(utf8(prog / name) + "\nシンボリックリンク"),
                  std::string::npos)
            << messages.back();
        EXPECT_FALSE(read().ok) << name;
        EXPECT_EQ(RestoreNames().problem, RestoreResult::Problem::Unreadable) << name;
        EXPECT_EQ(readBytes(root / "victim"), "victim") << name;
        EXPECT_THAT(entries(dir), ElementsAre("b.jpg"));
        EXPECT_TRUE(fs::is_symlink(prog / name));
    }
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
