#include "test_support.h"

#include "engine/history.h"
#include "engine/tavrinM.h"
#include "platform/fs.h"

#include <gmock/gmock.h>

#include <fstream>

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
    EXPECT_EQ(r.problem, RestoreResult::Problem::None);
    EXPECT_EQ(r.restored, 3);
    EXPECT_TRUE(r.failed.empty());
    EXPECT_EQ(contents(), before);
    EXPECT_TRUE(entries(prog).empty());
}

// The program folder was writable for one run and not for the next, which
// went to the user's folder; started again once the program folder is
// writable, the undo takes back the last run, never the one it replaced, also
// once the last one is undone; the next run removes the replaced history.
TEST_F(RestoreTest, UndoTakesBackTheLastRunWhicheverFolderHoldsIt) {
    makeFiles({"a.jpg", "b.jpg"});
    const fs::path state = root / "state" / "tavrin";
    const auto start = [&] { platform::setUserStateFolderForTesting(utf8(state)); };
    start();
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"a.jpg", "b.jpg"}), act), RunEnding::Completed);
    const auto afterFirst = contents();
    ASSERT_THAT(entries(prog), ElementsAre("New.ini", "Old.ini"));

    struct Writable {
        fs::path folder;
        ~Writable() { makeWritable(folder); }
    } writableAgain{prog};
    if (!makeUnwritable(prog) || std::ofstream(prog / "probe")) {
        GTEST_SKIP() << "the program folder cannot be made read-only here";
    }
    start();
    ASSERT_EQ(RenameRun(inputs({"photo0.jpg", "photo1.jpg"}, "x"), act), RunEnding::Completed);
    EXPECT_THAT(entries(state), ::testing::IsSupersetOf({"New.ini", "Old.ini"}));

    makeWritable(prog);
    start();
    EXPECT_EQ(restore().restored, 2);
    EXPECT_EQ(contents(), afterFirst);
    start();
    tavrinM::SetHistoryPaths();
    EXPECT_FALSE(tavrinM::PathExists(tavrinM::OldIniPath)) << "the replaced run is undone no more";

    ASSERT_EQ(RenameRun(inputs({"photo0.jpg", "photo1.jpg"}, "y"), act), RunEnding::Completed);
    EXPECT_THAT(entries(prog), ::testing::IsEmpty()) << "the replaced history is gone";
    EXPECT_EQ(restore().restored, 2);
    EXPECT_EQ(contents(), afterFirst);
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
    EXPECT_EQ(r.problem, RestoreResult::Problem::None);
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

// What a run or a restore killed half-way leaves, and what no writer of ours
// leaves: a leftover of a fallback rename proved the program's own is removed
// and the pair counts as restored; a user's file, a name without a partner,
// kept pairs that cannot be read or a history that names one file twice are
// reported and kept, never "restored".
TEST_F(RestoreTest, LeftoversGoAndWhatCannotBePairedIsKept) {
    struct After {
        long restored, failed;
        std::string files;             // the user's folder, hidden entries too: "name=content ..."
        std::vector<std::string> prog; // the program's folder
    };
    struct Case {
        const char* what;
        After after;
        std::function<void()> make;
    };
    const std::string mark(platform::reservationMark);
    const auto aside = [this](const char* name) {
        return u8(platform::asidePath(utf8(dir / name)));
    };
    const std::vector<Case> cases = {
        {"second link (link, then unlink)",
         {1, 0, "a.txt=A", {}},
         [this] {
             makeFile("a.txt", "A");
             fs::create_hard_link(dir / "a.txt", dir / "n0.txt");
             writeHistory({{"a.txt", "n0.txt"}});
         }},
        {"second link moved aside by a removal cut short",
         {1, 0, "a.txt=A", {}},
         [&] {
             makeFile("a.txt", "A");
             fs::create_hard_link(dir / "a.txt", aside("n0.txt"));
             writeHistory({{"a.txt", "n0.txt"}});
         }},
        {"marked reservation of the new name",
         {1, 0, "a.txt=A", {}},
         [&] {
             makeFile("a.txt", "A");
             makeFile("n0.txt", mark);
             writeHistory({{"a.txt", "n0.txt"}});
         }},
        {"marked reservation of the old name, by a restore",
         {1, 0, "a.txt=A", {}},
         [&] {
             makeFile("a.txt", mark);
             makeFile("n0.txt", "A");
             writeHistory({{"a.txt", "n0.txt"}});
         }},
        {"empty reservation, killed before its mark: the aside name proves it",
         {1, 0, "a.txt=A", {}},
         [&] {
             makeFile("a.txt", "A");
             writeBytes(dir / "n0.txt", "");
             writeBytes(aside("n0.txt"), mark);
             writeHistory({{"a.txt", "n0.txt"}});
         }},
        {"empty file of the user's, a new one under the old name",
         {0, 1, "a.txt=new n0.txt=", {"New.ini", "Old.ini"}},
         [this] {
             makeFile("a.txt", "new");
             writeBytes(dir / "n0.txt", "");
             writeHistory({{"a.txt", "n0.txt"}});
         }},
        {"one name twice",
         {0, 0, "a.txt=A", {"New.ini", "Old.ini"}},
         [this] {
             makeFile("a.txt", "A");
             writeHistory({{"a.txt", "a.txt"}});
         }},
        {"NUL in the folder line: both paths end there",
         {0, 0, "a.txt=A", {"New.ini", "Old.ini"}},
         [this] {
             makeFile("a.txt", "A");
             const std::string folder = "-" + utf8(dir / "a.txt") + '\0' + sep() + "\r\n";
             writeBytes(prog / "Old.ini", folder + "o.txt\r\n");
             writeBytes(prog / "New.ini", folder + "n.txt\r\n");
         }},
        {"Old.ini one whole line longer",
         {1, 1, "a.txt=n0.txt n1.txt=n1.txt", {"New.ini", "Old.ini"}},
         [this] {
             makeFiles({"n0.txt", "n1.txt"});
             writeBytes(prog / "Old.ini", folderLine() + "a.txt\r\nb.txt\r\n");
             writeBytes(prog / "New.ini", folderLine() + "n0.txt\r\n");
         }},
        {"kept New.ini unreadable",
         {0,
          0,
          "n0.txt=n0.txt n1.txt=n1.txt",
          {"New.ini", "New.ini.kept", "Old.ini", "Old.ini.kept"}},
         [this] {
             makeFiles({"n0.txt", "n1.txt"});
             writeHistory({{"a.txt", "n0.txt"}});
             writeBytes(prog / "Old.ini.kept", folderLine() + "b.txt\r\n");
             fs::create_directory(prog / "New.ini.kept");
         }},
    };
    for (const auto& c : cases) {
        if (std::string_view(c.what).starts_with("second link") && sep() == "\\") {
            continue; // links of the fallback rename are a POSIX matter (Wine renames them away)
        }
        fs::remove_all(dir);
        fs::remove_all(prog);
        fs::create_directory(dir);
        fs::create_directory(prog);
        c.make();
        const RestoreResult r = restore();
        const After& a = c.after;
        EXPECT_EQ(r.restored, a.restored) << c.what;
        EXPECT_EQ(static_cast<long>(r.failed.size()), a.failed) << c.what;
        EXPECT_EQ(r.problem == RestoreResult::Problem::None, a.restored + a.failed > 0) << c.what;
        std::string files;
        for (const auto& [name, content] : contents()) {
            files += (files.empty() ? "" : " ") + name + "=" + content;
        }
        EXPECT_EQ(files, a.files) << c.what;
        EXPECT_EQ(entries(prog), a.prog) << c.what;
    }
}

TEST_F(RestoreTest, RewriteKeepsEachPairUnderItsOwnFolder) {
    const fs::path other = root / "other";
    fs::create_directory(other);
    // Neither new name exists, and the last folder was moved away.
    const std::string oldLines = folderLine() + "a.txt\r\n-" + utf8(other) + sep() +
                                 "\r\nb.txt\r\n-" + utf8(root / "gone") + sep() + "\r\nc.txt\r\n";
    const std::string newLines = folderLine() + "n0.txt\r\n-" + utf8(other) + sep() +
                                 "\r\nn1.txt\r\n-" + utf8(root / "gone") + sep() + "\r\nn2.txt\r\n";
    writeBytes(prog / "Old.ini", oldLines);
    writeBytes(prog / "New.ini", newLines);
    const RestoreResult r = restore();
    ASSERT_EQ(r.failed.size(), 3u);
    EXPECT_EQ(r.failed[2].pair.newName, "n2.txt");
    EXPECT_FALSE(r.failed[2].reason.empty());
    EXPECT_EQ(oldIni(), oldLines);
    EXPECT_EQ(newIni(), newLines);
}

TEST_F(RestoreTest, UnreadableHistoryRenamesNothing) {
    makeFile("n0.txt");
    writeBytes(prog / "Old.ini", folderLine() + "a.txt\r\nb.txt\r\nc.txt\r\n");
    writeBytes(prog / "New.ini", folderLine() + "n0.txt\r\n");
    const RestoreResult r = restore();
    EXPECT_EQ(r.problem, RestoreResult::Problem::Unreadable);
    EXPECT_EQ(r.path, (prog / "New.ini").string());
    EXPECT_THAT(entries(dir), ElementsAre("n0.txt"));
    EXPECT_THAT(entries(prog), ElementsAre("New.ini", "Old.ini"));
}

TEST_F(RestoreTest, FolderLinesOnlyRestoreNothingAndDeleteTheHistory) {
    writeHistory({});
    const RestoreResult r = restore();
    EXPECT_EQ(r.restored, 0);
    EXPECT_TRUE(r.failed.empty());
    EXPECT_TRUE(entries(prog).empty());
}

// Names read from a history are trusted no more than typed ones: only a plain
// name inside the recorded folder is renamed; other pairs stay, with a reason.
TEST_F(RestoreTest, OnlyPlainNamesInsideTheFolderAreRenamed) {
    fs::create_directory(root / "up");
    writeBytes(root / "outside.txt", "outside");
    makeFile("inside.txt", "inside");
    const std::string up = ".." + sep();
    const std::vector<std::pair<std::string, std::string>> crafted = {
        {up + "moved.txt", "inside.txt"}, // out of the folder
        {"in.txt", up + "outside.txt"},   // into it
        {"abs.txt", utf8(root / "outside.txt")},
        {".", "inside.txt"},
        {"inside2.txt", ".."},
        {"", "inside.txt"},
        {"ctl\x01.txt", "inside.txt"},
    };
    for (const auto& [oldName, newName] : crafted) {
        writeHistory({{oldName, newName}});
        const RestoreResult r = restore();
        ASSERT_EQ(r.failed.size(), 1u) << oldName << " <- " << newName;
        EXPECT_EQ(r.failed[0].reason, "ファイル名として使えない名前です");
        EXPECT_THAT(entries(dir), ElementsAre("inside.txt"));
        EXPECT_THAT(entries(root), ElementsAre("files", "outside.txt", "prog", "up"));
        EXPECT_EQ(newIni(), folderLine() + newName + "\r\n") << "the pair stays";
    }
}

// "New name gone, old name there" means already restored only when every kind
// of entry counts: a hidden file, a link or a folder at the new name is there.
TEST_F(RestoreTest, AlreadyRestoredRuleSeesEveryEntry) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> make;
    };
    const std::vector<Case> cases = {
        {"hidden file", [](const fs::path& p) { writeBytes(p, "renamed"); }},
        {"folder", [](const fs::path& p) { fs::create_directory(p); }},
        {"dangling link",
         [](const fs::path& p) {
             std::error_code ec;
             fs::create_symlink(p.parent_path() / "nowhere", p, ec);
             if (ec) {
                 fs::create_directory(p);
             }
         }},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir);
        fs::create_directory(dir);
        makeFile("a.jpg", "squatter"); // the old name was taken since
        c.make(dir / ".0.jpg");
        writeHistory({{"a.jpg", ".0.jpg"}});
        const RestoreResult r = restore();
        EXPECT_EQ(r.restored, 0) << c.what;
        ASSERT_EQ(r.failed.size(), 1u) << c.what;
        EXPECT_TRUE(fs::exists(fs::symlink_status(dir / ".0.jpg"))) << c.what;
        EXPECT_EQ(newIni(), folderLine() + ".0.jpg\r\n") << c.what;
    }
}

// A restore that could not record its progress is refused before it renames
// anything, and says why.
TEST_F(RestoreTest, RestoreThatCannotChangeTheHistoryRenamesNothing) {
    makeFiles({"n0.txt", "n1.txt"});
    writeHistory({{"a.txt", "n0.txt"}, {"b.txt", "n1.txt"}});
    const std::string oldBefore = oldIni();
    {
        platform::FolderLock other;
        ASSERT_TRUE(other.acquire(utf8(prog)).ok());
        const RestoreResult r = restore();
        EXPECT_EQ(r.problem, RestoreResult::Problem::Refused);
        EXPECT_EQ(r.reason, "ほかのプログラムが変更履歴を使っています");
        EXPECT_THAT(entries(dir), ElementsAre("n0.txt", "n1.txt"));
    }
    if (!makeUnwritable(prog / "Old.ini")) {
        GTEST_SKIP() << "this system cannot make a file unwritable here";
    }
    const RestoreResult r = restore();
    makeWritable(prog / "Old.ini");
    EXPECT_EQ(r.problem, RestoreResult::Problem::Refused);
    EXPECT_EQ(r.path, utf8(prog / "Old.ini"));
    EXPECT_FALSE(r.reason.empty());
    EXPECT_THAT(entries(dir), ElementsAre("n0.txt", "n1.txt"));
    EXPECT_EQ(oldIni(), oldBefore);
}

TEST_F(RestoreTest, HistoryThatCannotBeDeletedIsReported) {
    writeHistory({});
    fs::remove(prog / "New.ini");
    fs::create_directories(prog / "New.ini" / "inside");
    const RestoreResult r = restore();
    EXPECT_EQ(r.problem, RestoreResult::Problem::NotDeleted);
    EXPECT_EQ(r.path, utf8(prog / "New.ini"));
    EXPECT_FALSE(r.reason.empty());
}

} // namespace
