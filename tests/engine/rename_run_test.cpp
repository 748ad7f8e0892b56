#include "test_support.h"

#include "engine/history.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/random.h"
#include "platform/textfile.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>

using namespace tavrin;
using namespace tavrin::testing;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const std::string msgDone = "変更完了";
const std::string msgClash = "既に同名のファイルが存在します、ファイル名を変更してください。";
const std::string msgUnsafe = "ファイル名に使用できない文字が含まれています";
const std::string msgTooLong = "新しいファイル名が長すぎます";

class RenameRunTest : public TempFolder {};

// --- Refusals ---------------------------------------------------------------

struct Refusal {
    const char* label;
    std::function<void(FixedRunInputs&)> set;
    std::string message; // with "<folder>" for the folder of the run
    std::string action;  // empty: none
    bool onlyWhereDotHides = false;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.label;
}

class RefusalTest : public RenameRunTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, RefusesBeforeTouchingAnything) {
    if (GetParam().onlyWhereDotHides && !platform::hidesLeadingDot()) {
        GTEST_SKIP() << "a leading dot hides nothing here";
    }
    makeFiles({"a.jpg", "b.jpg", "README"});
    writeHistory({{"x.jpg", "y.jpg"}});
    const std::string oldBefore = oldIni(), newBefore = newIni();
    tavrinM::BaseName = "earlier";
    tavrinM::FolderPath = "/earlier/";

    FixedRunInputs in = inputs({"a.jpg", "b.jpg", "README"});
    GetParam().set(in);
    RecordingActions act;
    logMessagesInto(act);
    EXPECT_EQ(RenameRun(in, act), RunEnding::Refused);

    std::string message = GetParam().message;
    if (const auto at = message.find("<folder>"); at != std::string::npos) {
        message.replace(at, 8, in.Folder + sep());
    }
    std::vector<std::string> log{"msg " + message};
    if (!GetParam().action.empty()) {
        log.push_back(GetParam().action);
    }
    EXPECT_EQ(act.log, log);
    EXPECT_THAT(entries(dir), ElementsAre("README", "a.jpg", "b.jpg"));
    EXPECT_EQ(oldIni(), oldBefore);
    EXPECT_EQ(newIni(), newBefore);
    EXPECT_THAT(entries(prog), ElementsAre("New.ini", "Old.ini"));
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
                msgUnsafe, "focus NewK"},
        // What the history code page cannot give back unchanged (〜 would come
        // back as ～) is refused before the history is touched.
        Refusal{"BaseNameOutsideTheCodePage",
                [](auto& in) {
                    platform::setHistoryCodePageForTesting(932);
                    in.Base = "波〜";
                },
                msgUnsafe, "focus NewNa"},
        Refusal{"ExtensionOutsideTheCodePage",
                [](auto& in) {
                    platform::setHistoryCodePageForTesting(932);
                    in.KaC = true;
                    in.NewExt = "\xC2\xA5";
                },
                msgUnsafe, "focus NewK"},
        Refusal{"FolderOutsideTheCodePage",
                [](auto& in) {
                    platform::setHistoryCodePageForTesting(932);
                    in.Folder += sep() + "smile\xF0\x9F\x98\x80";
                },
                "このフォルダーの名前は変更履歴に記録できません：<folder>", ""},
        Refusal{"FolderWithALineBreak", [](auto& in) { in.Folder += sep() + "a\nb"; },
                "このフォルダーの名前は変更履歴に記録できません：<folder>", ""},
        // Names that a leading "." would hide from every list, the restore's included.
        Refusal{"HiddenBaseName", [](auto& in) { in.Base = "."; }, msgUnsafe, "focus NewNa", true},
        Refusal{"ExtOnlyComposesAHiddenName",
                [](auto& in) {
                    in.KacC = true;
                    in.NewExt = ".cfg"; // README has no dot: it would become ".cfg"
                },
                msgUnsafe, "focus NewK", true},
        // Names longer than the file system takes fail at the first file otherwise.
        Refusal{"NamesTooLong", [](auto& in) { in.Base = std::string(252, 'b'); }, msgTooLong,
                "focus NewNa"},
        Refusal{"ExtOnlyNamesTooLong",
                [](auto& in) {
                    in.KacC = true;
                    in.NewExt = std::string(255, 'x');
                },
                msgTooLong, "focus NewK"}),
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

TEST_F(RenameRunTest, BackslashInAnOldNameIsAnOrdinaryCharacterWhereItSeparatesNothing) {
    if (platform::separator() == '\\') {
        GTEST_SKIP() << "the separator here";
    }
    makeFiles({"a\\b.txt"});
    FixedRunInputs in = inputs({"a\\b.txt"}, "", "txt");
    in.KacC = true;
    in.NewExt = "md";
    RecordingActions act;
    ASSERT_EQ(RenameRun(in, act), RunEnding::Completed);
    EXPECT_THAT(entries(dir), ElementsAre("a\\b.md"));
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

TEST_F(RenameRunTest, RandomNumbersRunFromOneTo9999) {
    // The lowest and the highest fraction the generator gives, and one between.
    const std::vector<double> fractions{0.0, 0.5, std::nextafter(1.0, 0.0)};
    std::size_t next = 0;
    platform::random::setFractionSourceForTesting([&] { return fractions.at(next++); });
    makeFiles({"a.dat", "b.dat", "c.dat"});
    FixedRunInputs in = inputs({"a.dat", "b.dat", "c.dat"}, "r", "dat");
    in.LCk = true;
    RecordingActions act;
    ASSERT_EQ(RenameRun(in, act), RunEnding::Completed);
    EXPECT_THAT(entries(dir), ElementsAre("r1.dat", "r5000.dat", "r9999.dat"));
}

TEST_F(RenameRunTest, EveryRunDrawsFromAFreshSeed) {
    std::vector<std::string> files;
    for (int i = 0; i < 20; ++i) {
        files.push_back("f" + std::to_string(i) + ".dat");
    }
    makeFiles(files);
    FixedRunInputs in = inputs(files, "r", "dat");
    in.LCk = true;
    // The first draws of a run, starting from a generator in a known state.
    const auto firstDraws = [&] {
        platform::random::seedForTesting(1);
        std::vector<long> drawn;
        RecordingActions act;
        act.onYield = [&] { drawn.push_back(tavrinM::RndNum); };
        RenameRun(in, act);
        tavrinM::SetHistoryPaths();
        EXPECT_TRUE(RestoreNames().failed.empty());
        drawn.resize(5);
        return drawn;
    };
    std::vector<long> known;
    platform::random::seedForTesting(1);
    for (int i = 0; i < 5; ++i) {
        known.push_back(static_cast<long>(platform::random::nextFraction() * 9999 + 1));
    }
    const std::vector<long> first = firstDraws();
    EXPECT_NE(first, known) << "the run drew on without seeding";
    EXPECT_NE(firstDraws(), first) << "two runs drew the same numbers";
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
    // More changes than a watch holds between two looks, in batches as long as time allows.
    EXPECT_EQ(lastRunFigures().namesWatched, platform::FolderEntries(utf8(dir)).watching());
}

// --- Batches -------------------------------------------------------------------

// The pairs of a batch go on record ahead of their renames. Wherever a crash
// stops the run, those whose renames have not happened must name a target
// nothing has and a file that still has its old name, as a restore counts
// them restored. Looked at after every rename, with the rest of the batch
// ahead on record; a file whose new name is still taken when its batch
// begins is never recorded, and the batches count only recorded ones.
struct Ahead {
    const char* label;
    std::vector<std::string> files; // made in the folder
    std::vector<std::string> listed;
    std::function<void(FixedRunInputs&)> set;
    long aheadAtFirstRename; // pairs on record ahead once the first file is renamed
    long batches;
    RunEnding ending;
    std::vector<std::string> namesAfter;
    // What another program does in the folder after each rename.
    std::function<void(const fs::path& dir, long renamed)> meanwhile = {};
};

void PrintTo(const Ahead& a, std::ostream* os) {
    *os << a.label;
}

class AheadTest : public RenameRunTest, public ::testing::WithParamInterface<Ahead> {};

TEST_P(AheadTest, PairsOnRecordAheadNameFreeTargetsOfFilesNotYetMoved) {
    const Ahead& a = GetParam();
    setBatchLimitForTesting(100);
    makeFiles(a.files);
    FixedRunInputs in = inputs(a.listed);
    if (a.set) {
        a.set(in);
    }
    RecordingActions act;
    long renamed = 0;
    std::vector<long> ahead;
    act.onYield = [&] {
        ++renamed;
        const std::vector<std::string> oldLines = linesOf(oldIni()), newLines = linesOf(newIni());
        ASSERT_EQ(oldLines.size(), newLines.size());
        ahead.push_back(static_cast<long>(oldLines.size()) - 1 - renamed);
        for (std::size_t i = static_cast<std::size_t>(renamed) + 1; i < oldLines.size(); ++i) {
            EXPECT_FALSE(platform::entryExists(utf8(dir / u8(newLines[i]))))
                << newLines[i] << " after " << renamed << " renames";
            EXPECT_TRUE(platform::entryExists(utf8(dir / u8(oldLines[i]))))
                << oldLines[i] << " after " << renamed << " renames";
        }
        if (a.meanwhile) {
            a.meanwhile(dir, renamed);
        }
    };
    EXPECT_EQ(RenameRun(in, act), a.ending);
    ASSERT_FALSE(ahead.empty());
    EXPECT_EQ(ahead.front(), a.aheadAtFirstRename);
    EXPECT_EQ(lastRunFigures().batches, a.batches);
    EXPECT_EQ(entries(dir), a.namesAfter);
}

const bool caseIgnored = platform::separator() == '\\';

INSTANTIATE_TEST_SUITE_P(
    Run, AheadTest,
    ::testing::Values(Ahead{"FreeNamesGoInOneBatch",
                            {"a.jpg", "b.jpg", "c.jpg", "d.jpg"},
                            {"a.jpg", "b.jpg", "c.jpg", "d.jpg"},
                            {},
                            3,
                            1,
                            RunEnding::Completed,
                            {"photo0.jpg", "photo1.jpg", "photo2.jpg", "photo3.jpg"}},
                      Ahead{"NameOfAnotherFile",
                            {"a.jpg", "b.jpg", "c.jpg", "photo2.jpg"},
                            {"a.jpg", "b.jpg", "c.jpg"},
                            {},
                            1,
                            1,
                            RunEnding::NameClash,
                            {"c.jpg", "photo0.jpg", "photo1.jpg", "photo2.jpg"}},
                      // Each file takes the name the one before it has just left.
                      Ahead{"Chain",
                            {"photo1.jpg", "photo2.jpg", "photo3.jpg"},
                            {"photo1.jpg", "photo2.jpg", "photo3.jpg"},
                            {},
                            0,
                            3,
                            RunEnding::Completed,
                            {"photo0.jpg", "photo1.jpg", "photo2.jpg"}},
                      Ahead{"SameRandomNumberTwice",
                            {"a.jpg", "b.jpg", "c.jpg", "d.jpg"},
                            {"a.jpg", "b.jpg", "c.jpg", "d.jpg"},
                            [](FixedRunInputs& in) {
                                in.LCk = true;
                                platform::random::setFractionSourceForTesting([next = 0]() mutable {
                                    return ++next == 3 ? 0.2 : 0.1 * next;
                                });
                            },
                            1,
                            1,
                            RunEnding::NameClash,
                            {"c.jpg", "d.jpg", "photo1000.jpg", "photo2000.jpg"}},
                      // Names that differ in letter case only are one name where case is
                      // ignored; a batch never holds both.
                      Ahead{"NamesDifferingInCase",
                            {"x.one", "X.two"},
                            {"X.two", "x.one"},
                            [](FixedRunInputs& in) {
                                in.KacC = true;
                                in.NewExt = "jpg";
                            },
                            0,
                            caseIgnored ? 1 : 2,
                            caseIgnored ? RunEnding::NameClash : RunEnding::Completed,
                            caseIgnored ? std::vector<std::string>{"X.jpg", "x.one"}
                                        : std::vector<std::string>{"X.jpg", "x.jpg"}},
                      // A name taken after the run has begun counts from the next batch on.
                      Ahead{"NameTakenBetweenBatches",
                            {"a.jpg", "b.jpg", "c.jpg", "d.jpg"},
                            {"a.jpg", "b.jpg", "c.jpg", "d.jpg"},
                            [](FixedRunInputs&) { setBatchLimitForTesting(2); },
                            1,
                            2,
                            RunEnding::NameClash,
                            {"d.jpg", "photo0.jpg", "photo1.jpg", "photo2.jpg", "photo3.jpg"},
                            [](const fs::path& dir, long renamed) {
                                if (renamed == 2) {
                                    writeBytes(dir / "photo3.jpg", "theirs");
                                }
                            }}),
    [](const auto& info) { return std::string(info.param.label); });

// --- Endings ------------------------------------------------------------------

// Each ending: its messages in their place among the actions, the names on
// disk and the history (as it was, whenever nothing was renamed); afterwards
// no history file is open, no pending or kept file is left and the lock is
// free, also at the moment the restore is started.
struct Ending {
    const char* label;
    std::vector<std::string> files; // made in the folder
    std::vector<std::string> listed;
    std::function<void(FixedRunInputs&, RecordingActions&)> set;
    RunEnding ending;
    std::vector<std::string>
        log; // "<missing>": the reason for a missing file; "<Old.ini>": its path
    std::vector<std::string> namesAfter;
    std::vector<std::pair<std::string, std::string>> history; // none: the one before
    bool lockHeld = false;                                    // by another user of the history
};

void PrintTo(const Ending& e, std::ostream* os) {
    *os << e.label;
}

class EndingTest : public RenameRunTest, public ::testing::WithParamInterface<Ending> {
protected:
    bool lockFree() const {
        platform::FolderLock probe;
        return probe.acquire(utf8(prog)).ok();
    }
};

TEST_P(EndingTest, EndsInOrderAndLeavesTheHistoryClosedAndFree) {
    const Ending& e = GetParam();
    makeFiles(e.files);
    writeHistory({{"x.jpg", "y.jpg"}});
    const std::string oldBefore = oldIni(), newBefore = newIni();
    platform::FolderLock other;
    if (e.lockHeld) {
        ASSERT_TRUE(other.acquire(utf8(prog)).ok());
    }
    FixedRunInputs in = inputs(e.listed);
    RecordingActions act;
    // The history is as the run leaves it before the first message is shown.
    std::vector<std::string> atMessage;
    tavrinM::setMessageFunction([&](const std::string& text) {
        messages.push_back(text);
        act.log.push_back("msg " + text);
        if (atMessage.empty()) {
            for (const auto& name : entries(prog)) {
                if (name != platform::lockFileName) { // Windows: held until the end
                    atMessage.push_back(name);
                }
            }
            atMessage.push_back(oldIni());
            atMessage.push_back(newIni());
        }
    });
    bool closedForRestore = false;
    act.onStartRestore = [&] {
        closedForRestore =
            !platform::textfile::isOpen(1) && !platform::textfile::isOpen(2) && lockFree();
    };
    if (e.set) {
        e.set(in, act);
    }
    EXPECT_EQ(RenameRun(in, act), e.ending);

    std::vector<std::string> log = e.log;
    for (auto& entry : log) {
        for (const auto& [mark, text] :
             {std::pair<std::string, std::string>{"<missing>", missingFileReason()},
              {"<Old.ini>", utf8(prog / "Old.ini")}}) {
            if (const auto at = entry.find(mark); at != std::string::npos) {
                entry.replace(at, mark.size(), text);
            }
        }
    }
    EXPECT_EQ(act.log, log);
    EXPECT_EQ(entries(dir), e.namesAfter);
    if (e.history.empty()) {
        EXPECT_EQ(oldIni(), oldBefore);
        EXPECT_EQ(newIni(), newBefore);
    } else {
        std::string oldBytes = folderLine(), newBytes = folderLine();
        for (const auto& [oldName, newName] : e.history) {
            oldBytes += oldName + "\r\n";
            newBytes += newName + "\r\n";
        }
        EXPECT_EQ(oldIni(), oldBytes);
        EXPECT_EQ(newIni(), newBytes);
    }
    for (int number = 1; number <= 4; ++number) {
        EXPECT_FALSE(platform::textfile::isOpen(number)) << "file " << number;
    }
    other.release();
    EXPECT_THAT(entries(prog), ElementsAre("New.ini", "Old.ini"));
    if (!atMessage.empty()) {
        EXPECT_THAT(atMessage, ElementsAre("New.ini", "Old.ini", oldIni(), newIni()));
    }
    EXPECT_TRUE(lockFree());
    if (!log.empty() && log.back() == "restore") {
        EXPECT_TRUE(closedForRestore);
    }
    if (e.ending != RunEnding::NameClash && e.ending != RunEnding::Ended) {
        EXPECT_TRUE(tavrinM::OldIniPath.empty()) << "the shared state is reset";
    }
}

const auto withNewExtension = [](FixedRunInputs& in, RecordingActions&) {
    in.KaC = true;
    in.NewExt = "png";
};

INSTANTIATE_TEST_SUITE_P(
    Run, EndingTest,
    ::testing::Values(
        Ending{"Completed",
               {"a.jpg", "b.jpg"},
               {"a.jpg", "b.jpg"},
               withNewExtension,
               RunEnding::Completed,
               {"range 0 2", "value 1", "value 2", "GetCN png", "msg " + msgDone, "select first",
                "value 0", "clear boxes", "refresh"},
               {"photo0.png", "photo1.png"},
               {{"a.jpg", "photo0.png"}, {"b.jpg", "photo1.png"}}},
        Ending{"StoppedHalfWay",
               {"a.jpg", "c.jpg"},
               {"a.jpg", "gone.jpg", "c.jpg"},
               withNewExtension,
               RunEnding::Stopped,
               {"range 0 3", "value 1", "GetCN png",
                "msg 変更を中断しました：gone.jpg\n<missing>\n途中までの変更は復元で元に戻せます。",
                "select first", "value 0", "clear boxes", "refresh"},
               {"c.jpg", "photo0.png"},
               {{"a.jpg", "photo0.png"}}},
        // A history the reader would refuse is never written.
        Ending{"HistoryFull",
               {"a.jpg", "b.jpg", "c.jpg"},
               {"a.jpg", "b.jpg", "c.jpg"},
               [](FixedRunInputs&, RecordingActions&) { setHistoryLimitsForTesting({.lines = 3}); },
               RunEnding::Stopped,
               {"range 0 3", "value 1", "value 2",
                "msg 変更を中断しました：c.jpg\n変更履歴がいっぱいです（1 ファイル 67108864 "
                "バイト、3 行まで）\n途中までの変更は復元で元に戻せます。",
                "select first", "value 0", "clear boxes", "refresh"},
               {"c.jpg", "photo0.jpg", "photo1.jpg"},
               {{"a.jpg", "photo0.jpg"}, {"b.jpg", "photo1.jpg"}}},
        // The folder moved away after the first rename and another put in its
        // place: nothing there is renamed, as the history names the folder's path.
        Ending{"FolderReplacedDuringTheRun",
               {"a.jpg", "b.jpg", "c.jpg"},
               {"a.jpg", "b.jpg", "c.jpg"},
               [](FixedRunInputs& in, RecordingActions& act) {
                   setBatchLimitForTesting(1);
                   act.onYield = [folder = u8(in.Folder), moved = false]() mutable {
                       if (!moved) {
                           moved = true;
                           fs::rename(folder, folder.parent_path() / "moved");
                           fs::create_directory(folder);
                           writeBytes(folder / "b.jpg", "another");
                       }
                   };
               },
               RunEnding::Stopped,
               {"range 0 3", "value 1",
                "msg 変更を中断しました：b.jpg\nフォルダーが移動または削除されました\n"
                "途中までの変更は復元で元に戻せます。",
                "select first", "value 0", "clear boxes", "refresh"},
               {"b.jpg"},
               {{"a.jpg", "photo0.jpg"}}},
        Ending{"StoppedAtTheFirstFile",
               {"a.jpg"},
               {"gone.jpg", "a.jpg"},
               {},
               RunEnding::Stopped,
               {"range 0 2", "msg 変更を中止しました：gone.jpg\n<missing>", "select first",
                "value 0", "clear boxes", "refresh"},
               {"a.jpg"},
               {}},
        Ending{"NameClashHalfWay",
               {"a.jpg", "b.jpg", "c.jpg", "photo2.jpg"},
               {"a.jpg", "b.jpg", "c.jpg", "photo2.jpg"},
               {},
               RunEnding::NameClash,
               {"range 0 4", "value 1", "value 2", "msg " + msgClash, "focus NewNa", "value 0",
                "restore"},
               {"c.jpg", "photo0.jpg", "photo1.jpg", "photo2.jpg"},
               {{"a.jpg", "photo0.jpg"}, {"b.jpg", "photo1.jpg"}}},
        // Nothing to take back: the restore would offer the run before.
        Ending{"NameClashAtTheFirstFile",
               {"a.jpg", "photo0.jpg"},
               {"a.jpg"},
               {},
               RunEnding::NameClash,
               {"range 0 1", "msg " + msgClash, "focus NewNa", "value 0"},
               {"a.jpg", "photo0.jpg"},
               {}},
        Ending{"HistoryInUse",
               {"a.jpg"},
               {"a.jpg"},
               {},
               RunEnding::HistoryFailed,
               {"range 0 1",
                "msg 変更履歴を書き込めないため、変更を中止しました：<Old.ini>\n"
                "ほかのプログラムが変更履歴を使っています",
                "value 0"},
               {"a.jpg"},
               {},
               true},
        Ending{"ProgramEnding",
               {"a.jpg", "b.jpg", "c.jpg"},
               {"a.jpg", "b.jpg", "c.jpg"},
               [](FixedRunInputs&, RecordingActions& act) {
                   act.onYield = [&act] { act.ending = true; };
               },
               RunEnding::Ended,
               {"range 0 3"},
               {"b.jpg", "c.jpg", "photo0.jpg"},
               {{"a.jpg", "photo0.jpg"}}},
        Ending{"EmptyList",
               {},
               {},
               {},
               RunEnding::Completed,
               {"range 0 0", "msg " + msgDone, "select first", "value 0", "clear boxes", "refresh"},
               {},
               {}}),
    [](const auto& info) { return std::string(info.param.label); });

// Where there was no history, a run that renames nothing leaves none.
TEST_F(RenameRunTest, RunThatRenamesNothingLeavesNoHistoryWhereThereWasNone) {
    makeFiles({"a.jpg", "photo0.jpg"});
    for (const auto& listed : std::vector<std::vector<std::string>>{{}, {"gone.jpg"}, {"a.jpg"}}) {
        RecordingActions act;
        RenameRun(inputs(listed), act); // completed, stopped at a missing file, a clash
        EXPECT_TRUE(entries(prog).empty()) << listed.size();
        EXPECT_THAT(entries(dir), ElementsAre("a.jpg", "photo0.jpg"));
    }
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
    EXPECT_EQ(messages.at(0), "変更を中止しました：bad\x01.txt\n" + msgUnsafe);
#ifdef _WIN32
    // Windows cannot hold such a name at all; what matters is that nothing was renamed.
    EXPECT_THAT(entries(dir), IsEmpty());
#else
    EXPECT_THAT(entries(dir), ElementsAre("bad\x01.txt"));
#endif
}

// The per-file inputs are read as a batch is composed: a change made while a
// batch is renamed reaches the files of the next one.
TEST_F(RenameRunTest, OptionsChangedDuringTheRunApplyToTheNextBatch) {
    setBatchLimitForTesting(2);
    makeFiles({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"});
    FixedRunInputs in = inputs({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"});
    in.NewExt = "png";
    RecordingActions act;
    int yields = 0;
    act.onYield = [&] {
        if (++yields == 1) {
            in.KaC = true;
            in.Base = "ignored"; // the base name is fixed at the start
        }
        if (yields == 3) {
            in.NewExt = "a/b"; // a separator typed during the run stops it
        }
    };
    ASSERT_EQ(RenameRun(in, act), RunEnding::Stopped);
    EXPECT_THAT(entries(dir), ElementsAre("e.jpg", "f.jpg", "photo0.jpg", "photo1.jpg",
                                          "photo2.png", "photo3.png"));
    EXPECT_EQ(messages.at(0),
              "変更を中断しました：e.jpg\n" + msgUnsafe + "\n途中までの変更は復元で元に戻せます。");
    EXPECT_EQ(lastRunFigures().batches, 2);
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
