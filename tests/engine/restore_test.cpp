#include "test_support.h"

#include "engine/history.h"
#include "engine/tavrinM.h"

#include <gmock/gmock.h>

using namespace tavrin;
using namespace tavrin::testing;
using ::testing::ElementsAre;

namespace {

class RestoreTest : public TempFolder {
protected:
    RestoreResult restore() {
        tavrinM::SetHistoryPaths();
        return RestoreNames();
    }
};

TEST_F(RestoreTest, UndoesARunAndDeletesTheHistory) {
    makeFiles({"a.jpg", "b.jpg", "c.jpg"});
    const auto before = contents();
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"a.jpg", "b.jpg", "c.jpg"}), act), RunEnding::Completed);
    ASSERT_NE(contents(), before);

    const RestoreResult r = restore();
    EXPECT_TRUE(r.readOk);
    EXPECT_EQ(r.restored, 3);
    EXPECT_TRUE(r.failed.empty());
    EXPECT_EQ(contents(), before);
    EXPECT_TRUE(entries(prog).empty());
}

TEST_F(RestoreTest, UndoesAChainLastRenameFirst) {
    // b.txt became c.txt, then a.txt took the name b.txt had just left.
    makeFile("c.txt", "was b");
    makeFile("b.txt", "was a");
    writeHistory({{"b.txt", "c.txt"}, {"a.txt", "b.txt"}});
    const RestoreResult r = restore();
    EXPECT_EQ(r.restored, 2);
    EXPECT_TRUE(r.failed.empty());
    EXPECT_EQ(contents(),
              (std::map<std::string, std::string>{{"a.txt", "was a"}, {"b.txt", "was b"}}));
}

TEST_F(RestoreTest, FileThatHasItsOldNameAlreadyCountsAsRestored) {
    makeFile("a.txt");
    makeFile("n1.txt", "b.txt");
    writeHistory({{"a.txt", "n0.txt"}, {"b.txt", "n1.txt"}});
    const RestoreResult r = restore();
    EXPECT_EQ(r.restored, 2);
    EXPECT_THAT(entries(dir), ElementsAre("a.txt", "b.txt"));
    EXPECT_TRUE(entries(prog).empty());
}

TEST_F(RestoreTest, AfterAClashTheBlockingFileKeepsItsName) {
    makeFiles({"a.jpg", "b.jpg", "photo1.jpg"});
    const auto before = contents();
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"a.jpg", "b.jpg", "photo1.jpg"}), act), RunEnding::NameClash);
    const RestoreResult r = restore();
    EXPECT_EQ(r.restored, 1);
    EXPECT_TRUE(r.failed.empty());
    EXPECT_EQ(contents(), before);
    EXPECT_TRUE(entries(prog).empty());
}

TEST_F(RestoreTest, UnrestorablePairsStayInTheHistoryInTheirOrder) {
    makeFile("n0.txt", "a");
    makeFile("n2.txt", "c");
    makeFile("c.txt", "squatter"); // c.txt was taken since the run
    makeFile("n3.txt", "d");
    // n1.txt is gone: b.txt cannot come back.
    writeHistory(
        {{"a.txt", "n0.txt"}, {"b.txt", "n1.txt"}, {"c.txt", "n2.txt"}, {"d.txt", "n3.txt"}});

    const RestoreResult r = restore();
    EXPECT_TRUE(r.readOk);
    EXPECT_EQ(r.restored, 2);
    ASSERT_EQ(r.failed.size(), 2u);
    EXPECT_EQ(r.failed[0].pair.newName, "n1.txt");
    EXPECT_EQ(r.failed[1].pair.newName, "n2.txt");
    EXPECT_FALSE(r.failed[0].reason.empty());
    EXPECT_EQ(contents(),
              (std::map<std::string, std::string>{
                  {"a.txt", "a"}, {"c.txt", "squatter"}, {"d.txt", "d"}, {"n2.txt", "c"}}));
    EXPECT_EQ(oldIni(), folderLine() + "b.txt\r\nc.txt\r\n");
    EXPECT_EQ(newIni(), folderLine() + "n1.txt\r\nn2.txt\r\n");
    EXPECT_THAT(entries(prog), ElementsAre("New.ini", "Old.ini"));

    // Once the cause is gone, a second restore finishes the job.
    fs::remove(dir / "c.txt");
    makeFile("n1.txt", "b");
    const RestoreResult again = restore();
    EXPECT_EQ(again.restored, 2);
    EXPECT_TRUE(again.failed.empty());
    EXPECT_TRUE(entries(prog).empty());
    EXPECT_EQ(contents().at("c.txt"), "c");
}

TEST_F(RestoreTest, RewriteKeepsEachPairUnderItsOwnFolder) {
    const fs::path other = root / "other";
    fs::create_directory(other);
    writeBytes(prog / "Old.ini",
               folderLine() + "a.txt\r\n-" + utf8(other) + sep() + "\r\nb.txt\r\n");
    writeBytes(prog / "New.ini",
               folderLine() + "n0.txt\r\n-" + utf8(other) + sep() + "\r\nn1.txt\r\n");
    const RestoreResult r = restore(); // neither new name exists
    ASSERT_EQ(r.failed.size(), 2u);
    EXPECT_EQ(oldIni(), folderLine() + "a.txt\r\n-" + utf8(other) + sep() + "\r\nb.txt\r\n");
    EXPECT_EQ(newIni(), folderLine() + "n0.txt\r\n-" + utf8(other) + sep() + "\r\nn1.txt\r\n");
}

TEST_F(RestoreTest, UnreadableHistoryRenamesNothing) {
    makeFile("n0.txt");
    writeBytes(prog / "Old.ini", folderLine() + "a.txt\r\nb.txt\r\nc.txt\r\n");
    writeBytes(prog / "New.ini", folderLine() + "n0.txt\r\n");
    const RestoreResult r = restore();
    EXPECT_FALSE(r.readOk);
    EXPECT_EQ(r.path, (prog / "New.ini").string());
    EXPECT_THAT(entries(dir), ElementsAre("n0.txt"));
    EXPECT_THAT(entries(prog), ElementsAre("New.ini", "Old.ini"));
}

TEST_F(RestoreTest, InterruptedRewriteIsFinishedOrDiscarded) {
    makeFile("n1.txt", "b");
    // Killed after New.ini.new went into place: the complete Old.ini.new goes on.
    writeHistory({{"a.txt", "n0.txt"}, {"b.txt", "n1.txt"}});
    writeBytes(prog / "New.ini", folderLine() + "n1.txt\r\n");
    writeBytes(prog / "Old.ini.new", folderLine() + "b.txt\r\n");
    tavrinM::SetHistoryPaths();
    HistoryRead h = ReadHistory();
    ASSERT_TRUE(h.ok);
    ASSERT_EQ(h.pairs.size(), 1u);
    EXPECT_EQ(h.pairs[0].oldName, "b.txt");
    EXPECT_THAT(entries(prog), ElementsAre("New.ini", "Old.ini"));

    // Killed before anything moved: the originals stand and the pending files go.
    writeBytes(prog / "New.ini.new", folderLine());
    writeBytes(prog / "Old.ini.new", folderLine());
    h = ReadHistory();
    ASSERT_EQ(h.pairs.size(), 1u);
    EXPECT_THAT(entries(prog), ElementsAre("New.ini", "Old.ini"));
}

TEST_F(RestoreTest, FolderLinesOnlyRestoreNothingAndDeleteTheHistory) {
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({}), act), RunEnding::Completed);
    const RestoreResult r = restore();
    EXPECT_EQ(r.restored, 0);
    EXPECT_TRUE(r.failed.empty());
    EXPECT_TRUE(entries(prog).empty());
}

} // namespace
