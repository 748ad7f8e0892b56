#include "test_support.h"

#include "engine/tavrinM.h"
#include "platform/fs.h"

using namespace tavrin::testing;

namespace {

class StateTest : public TempFolder {};

TEST_F(StateTest, ResetStateEmptiesTheRunButKeepsTheCollectionScratch) {
    tavrinM::MsgText = tavrinM::OldName = tavrinM::NewName = tavrinM::FolderPath = "x";
    tavrinM::NewIniPath = tavrinM::OldIniPath = tavrinM::BaseName = "x";
    tavrinM::ListIdx = tavrinM::NameNum = tavrinM::RndNum = 7;
    tavrinM::DotPos = 3;
    tavrinM::ItemName = "a.jpg";
    tavrinM::ItemExt = "jpg";
    tavrinM::HelpText[4] = "help";

    tavrinM::ResetState();

    for (const auto* text :
         {&tavrinM::MsgText, &tavrinM::OldName, &tavrinM::NewName, &tavrinM::FolderPath,
          &tavrinM::NewIniPath, &tavrinM::OldIniPath, &tavrinM::BaseName}) {
        EXPECT_TRUE(text->empty());
    }
    EXPECT_EQ(tavrinM::ListIdx + tavrinM::NameNum + tavrinM::RndNum, 0);
    EXPECT_EQ(tavrinM::DotPos, 3);
    EXPECT_EQ(tavrinM::ItemName, "a.jpg");
    EXPECT_EQ(tavrinM::ItemExt, "jpg");
    EXPECT_EQ(tavrinM::HelpText[4], "help");
    tavrinM::HelpText[4].clear();
}

TEST_F(StateTest, ShowMsgHandsOverTheTextAndKeepsIt) {
    tavrinM::MsgText = "";
    tavrinM::ShowMsg();
    tavrinM::MsgText = "変更完了";
    tavrinM::ShowMsg();
    EXPECT_EQ(messages, (std::vector<std::string>{"", "変更完了"}));
    EXPECT_EQ(tavrinM::MsgText, "変更完了");
}

TEST_F(StateTest, PathExistsCountsOrdinaryVisibleFilesOnly) {
    makeFile("a.txt");
    makeFile(".hidden");
    fs::create_directory(dir / "sub");
    EXPECT_TRUE(tavrinM::PathExists((dir / "a.txt").string()));
    EXPECT_FALSE(tavrinM::PathExists((dir / "missing.txt").string()));
    EXPECT_FALSE(tavrinM::PathExists((dir / "sub").string()));
    EXPECT_FALSE(tavrinM::PathExists((dir / ".hidden").string()));
    EXPECT_FALSE(tavrinM::PathExists((dir / "a.txt" / "x").string()));
    tavrin::platform::Status error;
    EXPECT_FALSE(tavrinM::PathExists((dir / "missing.txt").string(), &error));
    EXPECT_TRUE(error.ok()) << "not being there is an answer";
    if (tavrin::platform::separator() == '/') {
        // A search that fails is no answer: the undo must not call that "no history".
        fs::create_symlink(dir / "loop", dir / "loop");
        EXPECT_FALSE(tavrinM::PathExists((dir / "loop" / "Old.ini").string(), &error));
        EXPECT_FALSE(error.ok());
    }
}

TEST_F(StateTest, HistoryPathsJoinTheProgramFolderUnconditionally) {
    tavrinM::SetHistoryPaths();
    EXPECT_EQ(tavrinM::OldIniPath, (prog / "Old.ini").string());
    EXPECT_EQ(tavrinM::NewIniPath, (prog / "New.ini").string());

    // At the root the folder keeps its separator, so the path holds two.
    tavrin::platform::setProgramFolderForTesting(nativeFolder("/"));
    tavrinM::SetHistoryPaths();
    EXPECT_EQ(tavrinM::OldIniPath, nativeFolder("/") + sep() + "Old.ini");
}

TEST_F(StateTest, KillHistoryDeletesBothAndSkipsMissingOnes) {
    writeHistory({});
    tavrinM::SetHistoryPaths();
    fs::remove(prog / "New.ini");
    tavrinM::KillHistory();
    EXPECT_TRUE(entries(prog).empty());
    tavrinM::KillHistory();
}

TEST_F(StateTest, RenameOneNeverReplaces) {
    makeFile("a.txt", "A");
    makeFile("b.txt", "B");
    tavrinM::FolderPath = utf8(dir) + sep();
    tavrinM::OldName = "a.txt";
    tavrinM::NewName = "b.txt";
    EXPECT_TRUE(tavrinM::RenameOne().targetExists());
    EXPECT_EQ(readBytes(dir / "a.txt"), "A");
    EXPECT_EQ(readBytes(dir / "b.txt"), "B");

    tavrinM::NewName = "c.txt";
    EXPECT_TRUE(tavrinM::RenameOne().ok());
    EXPECT_EQ(readBytes(dir / "c.txt"), "A");
    EXPECT_FALSE(fs::exists(dir / "a.txt"));
}

} // namespace
