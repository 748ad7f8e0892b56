#include "test_support.h"

#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/random.h"
#include "platform/textfile.h"

#include <gmock/gmock.h>

#include <algorithm>

using namespace tavrin;
using namespace tavrin::testing;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const std::string msgDone = "変更完了";
const std::string msgClash = "既に同名のファイルが存在します、ファイル名を変更してください。";
const std::string msgUnsafe = "ファイル名に使用できない文字が含まれています";

class RenameRunTest : public TempFolder {};

// --- Refusals ---------------------------------------------------------------

struct Refusal {
    const char* label;
    std::function<void(FixedRunInputs&)> set;
    std::string message;
    std::string action;
};

class RefusalTest : public RenameRunTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, RefusesBeforeTouchingAnything) {
    makeFiles({"a.jpg", "b.jpg", "README"});
    writeHistory({{"x.jpg", "y.jpg"}});
    const std::string oldBefore = oldIni(), newBefore = newIni();
    tavrinM::BaseName = "earlier";
    tavrinM::FolderPath = "/earlier/";

    FixedRunInputs in = inputs({"a.jpg", "b.jpg", "README"});
    GetParam().set(in);
    RecordingActions act;
    EXPECT_EQ(RenameRun(in, act), RunEnding::Refused);

    EXPECT_THAT(messages, ElementsAre(GetParam().message));
    EXPECT_THAT(act.log, ElementsAre(GetParam().action));
    EXPECT_THAT(entries(dir), ElementsAre("README", "a.jpg", "b.jpg"));
    EXPECT_EQ(oldIni(), oldBefore);
    EXPECT_EQ(newIni(), newBefore);
    EXPECT_EQ(tavrinM::BaseName, "earlier");
    EXPECT_EQ(tavrinM::FolderPath, "/earlier/");
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RefusalTest,
    ::testing::Values(
        Refusal{"BothOptions",
                [](auto& in) {
                    in.KaC = in.KacC = true;
                    in.Base.clear(); // check 1 comes before check 2
                },
                "オプション 変更はどちらか一方のみ選択可能です", "tab1"},
        Refusal{"NoBaseName", [](auto& in) { in.Base.clear(); }, "ファイル名を入力してください",
                "focus NewNa"},
        Refusal{"NoBaseNameBeforeNoExtension",
                [](auto& in) {
                    in.Base.clear();
                    in.KaC = true;
                },
                "ファイル名を入力してください", "focus NewNa"},
        Refusal{"NoNewExtension", [](auto& in) { in.KaC = true; },
                "変更する拡張子を入力してください", "focus NewK"},
        Refusal{"NoNewExtensionExtOnly", [](auto& in) { in.KacC = true; },
                "変更する拡張子を入力してください", "focus NewK"},
        Refusal{"SlashInBaseName", [](auto& in) { in.Base = "../up"; }, msgUnsafe, "focus NewNa"},
        Refusal{"BackslashInBaseName", [](auto& in) { in.Base = "a\\b"; }, msgUnsafe,
                "focus NewNa"},
        Refusal{"ControlInBaseName", [](auto& in) { in.Base = "a\tb"; }, msgUnsafe, "focus NewNa"},
        Refusal{"DeleteCharInExtension",
                [](auto& in) {
                    in.KaC = true;
                    in.NewExt = "jp\x7Fg";
                },
                msgUnsafe, "focus NewK"},
        Refusal{"SlashInExtension",
                [](auto& in) {
                    in.KacC = true;
                    in.NewExt = "x/y";
                },
                msgUnsafe, "focus NewK"},
        Refusal{"ExtOnlyComposesDotDot",
                [](auto& in) {
                    in.KacC = true;
                    in.NewExt = "..";
                },
                msgUnsafe, "focus NewK"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RenameRunTest, AcceptsWhatTheChecksLetThrough) {
    // Empty base name with extension-only, blanks as a base name, an empty new
    // extension when the list extension is used.
    makeFiles({"a.txt", "b.txt"});
    FixedRunInputs in = inputs({"a.txt", "b.txt"}, "", "txt");
    in.KacC = true;
    in.NewExt = "md";
    RecordingActions act;
    EXPECT_EQ(RenameRun(in, act), RunEnding::Completed);
    EXPECT_THAT(entries(dir), ElementsAre("a.md", "b.md"));

    FixedRunInputs blanks = inputs({"a.md", "b.md"}, "  ", "md");
    EXPECT_EQ(RenameRun(blanks, act), RunEnding::Completed);
    EXPECT_THAT(entries(dir), ElementsAre("  0.md", "  1.md"));
}

// --- Name modes and number modes ---------------------------------------------

TEST_F(RenameRunTest, SequenceNumbersFollowListOrderWithoutPadding) {
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        files.push_back("img" + std::string(1, static_cast<char>('a' + i)) + ".jpg");
    }
    makeFiles(files);
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs(files), act), RunEnding::Completed);

    const auto after = contents();
    for (int i = 0; i < 12; ++i) {
        const std::string name = "photo" + std::to_string(i) + ".jpg";
        ASSERT_TRUE(after.count(name)) << name;
        EXPECT_EQ(after.at(name), files[static_cast<size_t>(i)]);
    }
    EXPECT_EQ(after.size(), 12u);
}

TEST_F(RenameRunTest, NewExtensionIsUsedAsTyped) {
    makeFiles({"a.jpg", "b.jpg"});
    FixedRunInputs in = inputs({"a.jpg", "b.jpg"});
    in.KaC = true;
    in.NewExt = ".jpg";
    RecordingActions act;
    ASSERT_EQ(RenameRun(in, act), RunEnding::Completed);
    EXPECT_THAT(entries(dir), ElementsAre("photo0..jpg", "photo1..jpg"));
}

TEST_F(RenameRunTest, ExtensionOnlyKeepsNameUpToFirstDot) {
    makeFiles({"archive.tar.gz", "a.b", "README", "写真.jpeg"});
    FixedRunInputs in = inputs({"archive.tar.gz", "a.b", "README", "写真.jpeg"}, "");
    in.KacC = true;
    in.LCk = true; // no number is drawn in this mode
    in.NewExt = "zip";
    RecordingActions act;
    ASSERT_EQ(RenameRun(in, act), RunEnding::Completed);
    EXPECT_THAT(entries(dir), ElementsAre("a.zip", "archive.zip", "zip", "写真.zip"));
    EXPECT_EQ(tavrinM::DotPos, 3); // 写, 真 and "." are three characters
    EXPECT_EQ(tavrinM::RndNum, 0);
}

TEST_F(RenameRunTest, NothingSelectedLeavesNamesEndingInDot) {
    makeFiles({"a.jpg", "b.jpg"});
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"a.jpg", "b.jpg"}, "photo", ""), act), RunEnding::Completed);
#ifdef _WIN32
    // The system drops a trailing dot from a name; the history keeps it, and
    // the system finds the file by it again.
    EXPECT_THAT(entries(dir), ElementsAre("photo0", "photo1"));
#else
    EXPECT_THAT(entries(dir), ElementsAre("photo0.", "photo1."));
#endif
    EXPECT_EQ(newIni(), folderLine() + "photo0.\r\nphoto1.\r\n");
}

TEST_F(RenameRunTest, RandomNumbersLieBetweenOneAnd9999) {
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back("f" + std::to_string(i) + ".dat");
    }
    makeFiles(files);
    FixedRunInputs in = inputs(files, "r", "dat");
    in.LCk = true;
    std::vector<long> drawn;
    RecordingActions act;
    act.onYield = [&] { drawn.push_back(tavrinM::RndNum); };
    const RunEnding ending = RenameRun(in, act);
    // Two equal draws would end in a clash; either way every draw is in range.
    ASSERT_TRUE(ending == RunEnding::Completed || ending == RunEnding::NameClash);
    ASSERT_FALSE(drawn.empty());
    for (const long n : drawn) {
        EXPECT_GE(n, 1);
        EXPECT_LE(n, 9999);
    }
}

// The files are made one ahead of the run and taken away once renamed, so the
// folder stays small: Wine looks a new name up by reading the whole folder, and
// 32,770 files side by side would cost it a quarter of an hour for nothing the
// numbers need.
TEST_F(RenameRunTest, NumbersGoPastSixteenBits) {
    constexpr long count = 32770;
    std::vector<std::string> files;
    files.reserve(count);
    for (long i = 0; i < count; ++i) {
        files.push_back(std::to_string(i) + ".t");
    }
    writeBytes(dir / files[0], "");
    long renamed = 0;
    std::vector<std::string> misnamed;
    RecordingActions act;
    act.onYield = [&] {
        const fs::path now = dir / ("n" + std::to_string(renamed) + ".t");
        if (!fs::remove(now) || fs::exists(dir / files[static_cast<std::size_t>(renamed)])) {
            misnamed.push_back(files[static_cast<std::size_t>(renamed)]);
        }
        if (++renamed < count) {
            writeBytes(dir / files[static_cast<std::size_t>(renamed)], "");
        }
    };
    ASSERT_EQ(RenameRun(inputs(files, "n", "t"), act), RunEnding::Completed);
    EXPECT_EQ(renamed, count);
    EXPECT_THAT(misnamed, IsEmpty());
    EXPECT_EQ(act.log.front(), "range 0 32770");
    const std::string oldText = oldIni(), newText = newIni();
    EXPECT_EQ(std::count(newText.begin(), newText.end(), '\n'), count + 1);
    EXPECT_TRUE(oldText.ends_with("\r\n32768.t\r\n32769.t\r\n"));
    EXPECT_TRUE(newText.ends_with("\r\nn32768.t\r\nn32769.t\r\n"));
}

// --- Endings ------------------------------------------------------------------

TEST_F(RenameRunTest, CompletedEndingAsksForItsActionsInOrder) {
    makeFiles({"a.jpg", "b.jpg"});
    FixedRunInputs in = inputs({"a.jpg", "b.jpg"});
    in.KaC = true;
    in.NewExt = "png";
    RecordingActions act;
    ASSERT_EQ(RenameRun(in, act), RunEnding::Completed);
    EXPECT_THAT(act.log, ElementsAre("range 0 2", "value 1", "value 2", "GetCN png", "select first",
                                     "value 0", "clear boxes", "refresh"));
    EXPECT_THAT(messages, ElementsAre(msgDone));
    EXPECT_TRUE(tavrinM::BaseName.empty());
    EXPECT_TRUE(tavrinM::OldIniPath.empty());
    EXPECT_FALSE(platform::textfile::isOpen(1));
    EXPECT_FALSE(platform::textfile::isOpen(2));
}

TEST_F(RenameRunTest, HistoryBytesAreExact) {
    makeFiles({"a.jpg", "b.jpg"});
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"a.jpg", "b.jpg"}, "trip"), act), RunEnding::Completed);
    EXPECT_EQ(oldIni(), folderLine() + "a.jpg\r\nb.jpg\r\n");
    EXPECT_EQ(newIni(), folderLine() + "trip0.jpg\r\ntrip1.jpg\r\n");
}

TEST_F(RenameRunTest, FolderGetsOneTrailingSeparator) {
    makeFiles({"a.jpg"});
    FixedRunInputs in = inputs({"a.jpg"});
    in.Folder = utf8(dir) + sep();
    RecordingActions act;
    ASSERT_EQ(RenameRun(in, act), RunEnding::Completed);
    EXPECT_EQ(oldIni(), folderLine() + "a.jpg\r\n");
}

TEST_F(RenameRunTest, EmptyListWritesFolderLinesOnly) {
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({}), act), RunEnding::Completed);
    EXPECT_EQ(oldIni(), folderLine());
    EXPECT_EQ(newIni(), folderLine());
    EXPECT_EQ(act.log.front(), "range 0 0");
    EXPECT_THAT(messages, ElementsAre(msgDone));
}

TEST_F(RenameRunTest, ClashStopsWithoutOverwritingAndRecordsOnlyRenamedPairs) {
    // The third file's new name is taken by a file further down the list.
    makeFiles({"a.jpg", "b.jpg", "c.jpg", "photo2.jpg", "z.jpg"});
    const auto before = contents();
    RecordingActions act;
    act.onStartRestore = [&] {
        // The history is closed and final when the restore is started.
        EXPECT_FALSE(platform::textfile::isOpen(1));
        EXPECT_EQ(oldIni(), folderLine() + "a.jpg\r\nb.jpg\r\n");
        EXPECT_EQ(newIni(), folderLine() + "photo0.jpg\r\nphoto1.jpg\r\n");
    };
    ASSERT_EQ(RenameRun(inputs({"a.jpg", "b.jpg", "c.jpg", "photo2.jpg", "z.jpg"}), act),
              RunEnding::NameClash);

    EXPECT_THAT(messages, ElementsAre(msgClash));
    EXPECT_THAT(act.withoutProgress(),
                ElementsAre("range 0 5", "focus NewNa", "value 0", "restore"));
    const auto after = contents();
    EXPECT_EQ(after.at("photo0.jpg"), before.at("a.jpg"));
    EXPECT_EQ(after.at("photo1.jpg"), before.at("b.jpg"));
    EXPECT_EQ(after.at("c.jpg"), before.at("c.jpg"));
    EXPECT_EQ(after.at("photo2.jpg"), before.at("photo2.jpg"));
    EXPECT_EQ(after.at("z.jpg"), before.at("z.jpg"));
    EXPECT_EQ(after.size(), 5u);
}

TEST_F(RenameRunTest, OtherFailureStopsAndSaysSo) {
    makeFiles({"a.jpg", "c.jpg"});
    RecordingActions act;
    FixedRunInputs in = inputs({"a.jpg", "gone.jpg", "c.jpg"});
    in.KaC = true;
    in.NewExt = "png";
    ASSERT_EQ(RenameRun(in, act), RunEnding::Stopped);

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "変更を中断しました：gone.jpg\n" + missingFileReason() +
                               "\n途中までの変更は復元で元に戻せます。");
    EXPECT_THAT(act.withoutProgress(), ElementsAre("range 0 3", "GetCN png", "select first",
                                                   "value 0", "clear boxes", "refresh"));
    EXPECT_THAT(entries(dir), ElementsAre("c.jpg", "photo0.png"));
    EXPECT_EQ(oldIni(), folderLine() + "a.jpg\r\n");
    EXPECT_EQ(newIni(), folderLine() + "photo0.png\r\n");
}

TEST_F(RenameRunTest, UnwritableHistoryRenamesNothing) {
    makeFiles({"a.jpg"});
    platform::setProgramFolderForTesting((root / "missing").string());
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"a.jpg"}), act), RunEnding::HistoryFailed);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "変更履歴を書き込めないため、変更を中止しました：" +
                               (root / "missing" / "Old.ini").string() + "\n" +
                               missingFolderReason());
    EXPECT_THAT(entries(dir), ElementsAre("a.jpg"));
    EXPECT_FALSE(platform::textfile::isOpen(1));
    EXPECT_FALSE(platform::textfile::isOpen(2));
}

// Names the history cannot hold faithfully are never renamed.
TEST_F(RenameRunTest, UnrecordableNameStopsTheRunBeforeItsRename) {
    ASSERT_TRUE(platform::setHistoryCodePageForTesting(932));
    makeFiles({"a.txt", "smile\xF0\x9F\x98\x80.txt", "z.txt"});
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"a.txt", "smile\xF0\x9F\x98\x80.txt", "z.txt"}, "n", "txt"), act),
              RunEnding::Stopped);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("変更を中断しました：smile\xF0\x9F\x98\x80.txt\n", 0), 0u);
    EXPECT_THAT(entries(dir), ElementsAre("n0.txt", "smile\xF0\x9F\x98\x80.txt", "z.txt"));
    EXPECT_EQ(oldIni(), folderLine() + "a.txt\r\n");
}

TEST_F(RenameRunTest, ControlCharacterInOldNameStopsTheRun) {
    makeFiles({"bad\x01.txt"});
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"bad\x01.txt"}, "n", "txt"), act), RunEnding::Stopped);
    EXPECT_EQ(messages.at(0), "変更を中断しました：bad\x01.txt\n" + msgUnsafe +
                                  "\n途中までの変更は復元で元に戻せます。");
#ifdef _WIN32
    // Windows cannot hold such a name at all; what matters is that nothing was renamed.
    EXPECT_THAT(entries(dir), IsEmpty());
#else
    EXPECT_THAT(entries(dir), ElementsAre("bad\x01.txt"));
#endif
}

TEST_F(RenameRunTest, OptionsChangedDuringTheRunApplyToTheFilesStillToCome) {
    makeFiles({"a.jpg", "b.jpg", "c.jpg"});
    FixedRunInputs in = inputs({"a.jpg", "b.jpg", "c.jpg"});
    in.NewExt = "png";
    RecordingActions act;
    int yields = 0;
    act.onYield = [&] {
        if (++yields == 1) {
            in.KaC = true;
            in.Base = "ignored"; // the base name is fixed at the start
        }
        if (yields == 2) {
            in.NewExt = "a/b"; // a separator typed during the run stops it
        }
    };
    ASSERT_EQ(RenameRun(in, act), RunEnding::Stopped);
    EXPECT_THAT(entries(dir), ElementsAre("c.jpg", "photo0.jpg", "photo1.png"));
    EXPECT_EQ(messages.at(0),
              "変更を中断しました：c.jpg\n" + msgUnsafe + "\n途中までの変更は復元で元に戻せます。");
}

TEST_F(RenameRunTest, EndingProgramStopsAfterTheFileInProgress) {
    makeFiles({"a.jpg", "b.jpg", "c.jpg"});
    RecordingActions act;
    act.onYield = [&] { act.ending = true; };
    ASSERT_EQ(RenameRun(inputs({"a.jpg", "b.jpg", "c.jpg"}), act), RunEnding::Ended);
    EXPECT_THAT(entries(dir), ElementsAre("b.jpg", "c.jpg", "photo0.jpg"));
    EXPECT_EQ(oldIni(), folderLine() + "a.jpg\r\n");
    EXPECT_THAT(act.log, ElementsAre("range 0 3"));
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(platform::textfile::isOpen(1));
}

TEST_F(RenameRunTest, SecondRunReplacesTheHistory) {
    makeFiles({"a.jpg"});
    RecordingActions act;
    ASSERT_EQ(RenameRun(inputs({"a.jpg"}), act), RunEnding::Completed);
    ASSERT_EQ(RenameRun(inputs({"photo0.jpg"}, "x"), act), RunEnding::Completed);
    EXPECT_EQ(oldIni(), folderLine() + "photo0.jpg\r\n");
    EXPECT_EQ(newIni(), folderLine() + "x0.jpg\r\n");
}

} // namespace
