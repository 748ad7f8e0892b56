// The rename run driven from the main window as a user drives it: open the
// folder, Get, pick an extension, type, set the options, Start; with the names
// on disk and the history bytes checked afterwards, and the commands a user
// could press while the run yields.
#include "engine/rename_run.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/gui/gui.h"
#include "platform/gui/lists.h"
#include "tests/native_path.h"
#include "ui/about/menu_commands.h"
#include "ui/main/forms.h"
#include "ui/main/main_window.h"
#include "ui/restore/restore_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;
using tavrin::testing::folderText;
using tavrin::testing::nativePath;
using tavrin::testing::pathOf;
using tavrin::testing::text;
using tavrin::ui::MainWindow;

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QStringList listed(const tavrin::gui::FileList* list) {
    QStringList out;
    for (long i = 0; i < list->listCount(); ++i) {
        out << qs(list->list(i));
    }
    return out;
}

std::set<std::string> namesOnDisk(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const auto u8 = entry.path().filename().u8string();
        names.emplace(u8.begin(), u8.end());
    }
    return names;
}

// Lines as the history holds them: in its code page, each ending in CR LF.
std::string historyText(std::initializer_list<std::string> lines) {
    std::string bytes;
    for (const auto& line : lines) {
        std::string encoded;
        bytes +=
            (tavrin::platform::historyCodePage().encode(line, encoded) ? encoded : line) + "\r\n";
    }
    return bytes;
}

} // namespace

class WindowRunTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir temp;
    fs::path root, dir, prog;
    QStringList messages;
    int ends = 0;
    MainWindow* w = nullptr;

    void makeFiles(std::initializer_list<const char*> names) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const char* name : names) {
            std::ofstream(dir / pathOf(name)) << name;
        }
    }
    std::string history(const char* name) {
        std::ifstream in(prog / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string folderLine() const { return "-" + folderText(dir); }

    // The user's steps: double-click the folder in the folder list, then Get.
    void openAndGet() {
        QVERIFY(w->Dir1->setPath(text(root)).ok());
        const QAbstractItemModel* model = w->Dir1->model();
        int row = -1;
        for (int r = 0; r < model->rowCount(); ++r) {
            if (w->Dir1->entryPath(r) == text(dir)) {
                row = r;
            }
        }
        QVERIFY(row >= 0);
        w->Dir1->scrollTo(model->index(row, 0));
        const QRect at = w->Dir1->visualRect(model->index(row, 0));
        // A double-click reaches the view as a click, then the second press.
        QTest::mouseClick(w->Dir1->viewport(), Qt::LeftButton, {}, at.center());
        QTest::mouseDClick(w->Dir1->viewport(), Qt::LeftButton, {}, at.center());
        QCOMPARE(w->Dir1->path(), text(dir));
        QCOMPARE(w->File1->path(), text(dir));
        QTest::mouseClick(w->CoGet, Qt::LeftButton);
        QVERIFY(w->StrB->isEnabled());
    }
    void pickExtension(const QString& ext) {
        const QList<QListWidgetItem*> found = w->GetCN->findItems(ext, Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        QTest::mouseClick(w->GetCN->viewport(), Qt::LeftButton, {},
                          w->GetCN->visualItemRect(found[0]).center());
        QCOMPARE(qs(w->GetCNText()), ext);
        QCOMPARE(qs(w->File1->pattern()), "*." + ext);
    }
    void clickTab(int tab) {
        QTabBar* bar = w->OpTb->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tab).center());
        QCOMPARE(w->OpTb->currentIndex(), tab);
    }
    void tick(QCheckBox* box) {
        const bool was = box->isChecked();
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        QCOMPARE(box->isChecked(), !was);
    }
    tavrin::ui::RestoreDialog* shownRestoreDialog() {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<tavrin::ui::RestoreDialog*>(top); d && d->isVisible()) {
                return d;
            }
        }
        return nullptr;
    }

private slots:
    void initTestCase() {
        tavrin::gui::useGothicByDefault(); // as the program does at start
    }

    void init() {
        QVERIFY(temp.isValid());
        root = nativePath(temp.path()) / "root";
        dir = root / "files";
        prog = nativePath(temp.path()) / "prog";
        fs::remove_all(root);
        fs::remove_all(prog);
        fs::create_directories(prog);
        makeFiles({"b.jpg", "a.jpg", "旅.jpg", "c.txt"});
        tavrin::platform::setProgramFolderForTesting(text(prog));
        messages.clear();
        ends = 0;
        tavrinM::setMessageFunction([this](const std::string& t) { messages << qs(t); });
        tavrin::ui::forms::setEndProgram([this] { ++ends; });
        QDir::setCurrent(temp.path());
        w = tavrin::ui::forms::loadMainWindow();
        w->showCentred();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void cleanup() {
        tavrin::ui::forms::unloadMainWindow();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (qobject_cast<tavrin::ui::RestoreDialog*>(top)) {
                delete top;
            }
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        tavrinM::setMessageFunction({});
        tavrin::platform::setProgramFolderForTesting({});
        tavrin::gui::EventTurns::setEveryForTesting(0);
        tavrin::setBatchLimitForTesting(0);
    }

    // Each name and number mode from the first click to the refreshed lists.
    void wholeRoad_data() {
        QTest::addColumn<QString>("pick");
        QTest::addColumn<bool>("nameAndExt");
        QTest::addColumn<bool>("extOnly");
        QTest::addColumn<bool>("random");
        QTest::addColumn<QString>("newExt");
        QTest::addColumn<QStringList>("newNames"); // empty: random numbers
        QTest::addColumn<QString>("listAfter");    // GetCN's only entry, or empty

        const QStringList old{"a.jpg", "b.jpg", "旅.jpg"};
        QTest::newRow("base name and sequence") << "jpg" << false << false << false << ""
                                                << QStringList{"n0.jpg", "n1.jpg", "n2.jpg"} << "";
        QTest::newRow("name and extension") << "jpg" << true << false << false << "bak"
                                            << QStringList{"n0.bak", "n1.bak", "n2.bak"} << "bak";
        QTest::newRow("extension only") << "jpg" << false << true << false << "old"
                                        << QStringList{"a.old", "b.old", "旅.old"} << "old";
        QTest::newRow("extension only ignores random")
            << "jpg" << false << true << true << "old" << QStringList{"a.old", "b.old", "旅.old"}
            << "old";
        // One file, so two random numbers cannot meet.
        QTest::newRow("base name and random")
            << "txt" << false << false << true << "" << QStringList{} << "";
    }

    void wholeRoad() {
        QFETCH(QString, pick);
        QFETCH(bool, nameAndExt);
        QFETCH(bool, extOnly);
        QFETCH(bool, random);
        QFETCH(QString, newExt);
        QFETCH(QStringList, newNames);
        QFETCH(QString, listAfter);

        openAndGet();
        pickExtension(pick);
        const QStringList oldNames = listed(w->File1);
        if (nameAndExt || extOnly) {
            clickTab(1);
            tick(nameAndExt ? w->KaC : w->KacC);
            QVERIFY(w->NewK->isVisible());
            QTest::keyClicks(w->NewK, newExt);
        }
        if (random) {
            clickTab(2);
            tick(w->LCk);
            QVERIFY(!w->RenC->isChecked());
        }
        if (w->NewNa->isEnabled()) {
            QTest::keyClicks(w->NewNa, "n");
        }
        QTest::mouseClick(w->StrB, Qt::LeftButton);

        QCOMPARE(messages, QStringList({"変更完了"}));
        if (newNames.isEmpty()) {
            QCOMPARE(oldNames, QStringList({"c.txt"}));
            const std::string line = history("New.ini");
            const QRegularExpression drawn("^-.*[/\\\\]\r\nn([0-9]{1,4})\\.txt\r\n$");
            const auto match = drawn.match(qs(line));
            QVERIFY2(match.hasMatch(), line.c_str());
            const int number = match.captured(1).toInt();
            QVERIFY(number >= 1 && number <= 9999);
            newNames << "n" + match.captured(1) + ".txt";
        }
        // On disk: the picked files carry their new names, the others are untouched.
        std::set<std::string> expected{"a.jpg", "b.jpg", "旅.jpg", "c.txt"};
        std::string oldText = historyText({folderLine()}), newText = oldText;
        for (qsizetype i = 0; i < oldNames.size(); ++i) {
            expected.erase(oldNames[i].toStdString());
            expected.insert(newNames[i].toStdString());
            oldText += historyText({oldNames[i].toStdString()});
            newText += historyText({newNames[i].toStdString()});
        }
        QCOMPARE(namesOnDisk(dir), expected);
        QCOMPARE(history("Old.ini"), oldText);
        QCOMPARE(history("New.ini"), newText);

        // The completed ending: the extension list, the text boxes, the bar, the lists.
        if (listAfter.isEmpty()) {
            QVERIFY(w->GetCN->count() > 1);
            QCOMPARE(w->GetCN->currentRow(), 0);
        } else {
            QCOMPARE(w->GetCN->count(), 1);
            QCOMPARE(qs(w->GetCNText()), listAfter);
            QCOMPARE(listed(w->File1), newNames);
        }
        QVERIFY(w->NewNa->text().isEmpty() && w->NewK->text().isEmpty());
        QCOMPARE(w->PB->value(), 0);
        QVERIFY(w->StrB->isEnabled());
        QVERIFY(!w->runInProgress());
        QVERIFY(w->Dir1->isEnabled() && w->Drive1->isEnabled() && w->GetCN->isEnabled());
    }

    // Each refusal: its message, nothing renamed, no history, focus and tab.
    void refusals_data() {
        QTest::addColumn<bool>("nameAndExt");
        QTest::addColumn<bool>("extOnly");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("newExt");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("startTab");
        QTest::addColumn<int>("tab");

        QTest::newRow("both options") << true << true << "n"
                                      << "x"
                                      << "オプション 変更はどちらか一方のみ選択可能です"
                                      << "OpTb" << 3 << 1;
        QTest::newRow("no base name") << false << false << ""
                                      << ""
                                      << "ファイル名を入力してください"
                                      << "NewNa" << 3 << 3;
        QTest::newRow("no new extension") << true << false << "n"
                                          << ""
                                          << "変更する拡張子を入力してください"
                                          << "NewK" << 1 << 1;
        QTest::newRow("base name into another folder")
            << false << false << "../n"
            << ""
            << "ファイル名に使用できない文字が含まれています"
            << "NewNa" << 3 << 3;
        QTest::newRow("extension into another folder")
            << false << true << ""
            << "x/y"
            << "ファイル名に使用できない文字が含まれています"
            << "NewK" << 1 << 1;
    }

    void refusals() {
        QFETCH(bool, nameAndExt);
        QFETCH(bool, extOnly);
        QFETCH(QString, base);
        QFETCH(QString, newExt);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        QFETCH(int, startTab);
        QFETCH(int, tab);

        openAndGet();
        clickTab(1);
        if (nameAndExt) {
            tick(w->KaC);
        }
        if (extOnly) {
            tick(w->KacC);
        }
        if (w->NewK->isVisible()) {
            QTest::keyClicks(w->NewK, newExt);
        }
        if (w->NewNa->isEnabled()) {
            QTest::keyClicks(w->NewNa, base);
        }
        if (startTab != 1) {
            clickTab(startTab);
        }
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        QCOMPARE(messages, QStringList({message}));
        QCOMPARE(w->OpTb->currentIndex(), tab);
        QWidget* focused = QApplication::focusWidget();
        if (focused == w->OpTb->tabBar()) {
            focused = w->OpTb; // the tab control takes the focus on its tab row
        }
        QCOMPARE(focused->objectName(), focus);
        QCOMPARE(namesOnDisk(dir), std::set<std::string>({"a.jpg", "b.jpg", "旅.jpg", "c.txt"}));
        QVERIFY(!fs::exists(prog / "Old.ini") && !fs::exists(prog / "New.ini"));
        QCOMPARE(w->NewNa->text(), base); // the input stays for a correction
        QVERIFY(!w->runInProgress() && w->Dir1->isEnabled());
    }

    // While the run yields, the window lives but no command starts anything.
    void commandsDuringARunStartNothing() {
        tavrin::gui::EventTurns::setEveryForTesting(1);
        openAndGet();
        pickExtension("jpg");
        QTest::keyClicks(w->NewNa, "n");
        std::vector<int> progress;
        bool pressed = false;
        QTimer presser;
        connect(&presser, &QTimer::timeout, this, [&] {
            progress.push_back(w->PB->value());
            if (pressed) {
                return;
            }
            pressed = true;
            QVERIFY(w->runInProgress());
            QVERIFY(!w->Dir1->isEnabled() && !w->Drive1->isEnabled() && !w->GetCN->isEnabled());
            QVERIFY(!w->con31->isEnabled());
            w->StrB->click();
            w->CoGet->setEnabled(true);
            w->CoGet->click();
            w->ReNm->click();
            w->con32->trigger();
            w->con3->trigger();
            const QRect first = w->Dir1->visualRect(w->Dir1->model()->index(0, 0));
            QTest::mouseDClick(w->Dir1->viewport(), Qt::LeftButton, {}, first.center());
            QTest::mouseClick(w->GetCN->viewport(), Qt::LeftButton, {},
                              w->GetCN->visualItemRect(w->GetCN->item(0)).center());
        });
        presser.start(0);
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        presser.stop();

        QVERIFY(pressed);
        QCOMPARE(messages, QStringList({"変更完了"})); // one run, nothing else said
        QCOMPARE(tavrin::ui::forms::mainWindow(), w);
        QVERIFY(w->isVisible());
        QVERIFY(shownRestoreDialog() == nullptr);
        QVERIFY(tavrin::ui::loadedAboutBox() == nullptr);
        QCOMPARE(w->Dir1->path(), text(dir));
        QCOMPARE(namesOnDisk(dir), std::set<std::string>({"n0.jpg", "n1.jpg", "n2.jpg", "c.txt"}));
        QCOMPARE(history("Old.ini"), historyText({folderLine(), "a.jpg", "b.jpg", "旅.jpg"}));
        QCOMPARE(history("New.ini"), historyText({folderLine(), "n0.jpg", "n1.jpg", "n2.jpg"}));
        // The bar moved on between the yields.
        QVERIFY(progress.size() >= 3);
        QCOMPARE(std::vector<int>(progress.begin(), progress.begin() + 3),
                 std::vector<int>({0, 1, 2}));
        QVERIFY(w->Dir1->isEnabled() && w->GetCN->isEnabled() && w->con31->isEnabled());
    }

    // End during the run: the file in hand at the window's turn is the last
    // one renamed, and the history holds exactly the renamed files. The bar
    // moves at the turns only: by the clock the first file has one, the
    // others are counted here.
    void endDuringARunKeepsWhatWasRenamed_data() {
        QTest::addColumn<int>("every"); // a turn every so many files; 0: by the clock
        QTest::addColumn<int>("endAt"); // the turn at which End is pressed
        QTest::addColumn<int>("renamed");
        QTest::newRow("by the clock") << 0 << 1 << 1;
        QTest::newRow("every file") << 1 << 3 << 3;
        QTest::newRow("every second file") << 2 << 2 << 3;
        QTest::newRow("every fourth file") << 4 << 2 << 5;
    }

    void endDuringARunKeepsWhatWasRenamed() {
        QFETCH(int, every);
        QFETCH(int, endAt);
        QFETCH(int, renamed);
        makeFiles({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"});
        tavrin::gui::EventTurns::setEveryForTesting(every);
        openAndGet();
        pickExtension("jpg");
        QTest::keyClicks(w->NewNa, "n");
        std::vector<int> bar;
        QTimer turns;
        connect(&turns, &QTimer::timeout, this, [&] {
            bar.push_back(w->PB->value());
            if (static_cast<int>(bar.size()) == endAt) {
                w->Command1->click();
            }
        });
        turns.start(0);
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        turns.stop();

        QCOMPARE(ends, 1);
        QVERIFY(messages.isEmpty());
        std::vector<int> expectedBar;
        for (int turn = 0; turn < endAt; ++turn) {
            expectedBar.push_back(turn * std::max(every, 1)); // files done before the turn
        }
        QCOMPARE(bar, expectedBar);
        std::set<std::string> onDisk;
        std::string oldText = historyText({folderLine()}), newText = oldText;
        for (int i = 0; i < 6; ++i) {
            const std::string was = std::string(1, char('a' + i)) + ".jpg";
            const std::string now = "n" + std::to_string(i) + ".jpg";
            onDisk.insert(i < renamed ? now : was);
            oldText += i < renamed ? historyText({was}) : "";
            newText += i < renamed ? historyText({now}) : "";
        }
        QCOMPARE(namesOnDisk(dir), onDisk);
        QCOMPARE(history("Old.ini"), oldText);
        QCOMPARE(history("New.ini"), newText);
    }

    // By the clock (no turn count set), a turn comes once a frame has passed
    // since the last: after every file when each turn itself takes longer,
    // and never more often than a frame, however quick the files are.
    void turnsComeByTheClock() {
        for (const bool slowTurns : {true, false}) {
            fs::remove_all(dir);
            fs::create_directories(dir);
            const int files = slowTurns ? 4 : 400;
            for (int i = 0; i < files; ++i) {
                std::ofstream(dir / ("f" + std::to_string(i) + ".jpg")) << i;
            }
            openAndGet();
            QTest::keyClicks(w->NewNa, "n");
            std::vector<int> bar;
            QTimer turns;
            connect(&turns, &QTimer::timeout, this, [&] {
                bar.push_back(w->PB->value());
                if (slowTurns) {
                    QTest::qSleep(2 * tavrin::gui::EventTurns::interval.count());
                }
            });
            turns.start(0);
            const auto start = std::chrono::steady_clock::now();
            QTest::mouseClick(w->StrB, Qt::LeftButton);
            const auto took = std::chrono::steady_clock::now() - start;
            turns.stop();
            QCOMPARE(messages.takeLast(), QStringLiteral("変更完了"));
            if (slowTurns) {
                QCOMPARE(bar, std::vector<int>({0, 1, 2, 3}));
            } else {
                QVERIFY(!bar.empty());
                QVERIFY2(static_cast<long>(bar.size()) <=
                             1 + took / tavrin::gui::EventTurns::interval,
                         std::to_string(bar.size()).c_str());
            }
        }
    }

    // The new extension typed at a turn of the window names the files composed
    // after that turn; the files before it keep the extension they had.
    void newExtensionTypedDuringARunNamesTheFilesAfter() {
        makeFiles({"a.jpg", "b.jpg", "c.jpg"});
        tavrin::gui::EventTurns::setEveryForTesting(1);
        tavrin::setBatchLimitForTesting(1);
        openAndGet();
        QTest::keyClicks(w->NewNa, "n");
        clickTab(1);
        tick(w->KaC);
        QTest::keyClicks(w->NewK, "png");
        QTimer turns;
        connect(&turns, &QTimer::timeout, this, [&] { w->NewK->setText(QStringLiteral("gif")); });
        turns.setSingleShot(true);
        turns.start(0);
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        QCOMPARE(messages, QStringList({"変更完了"}));
        QCOMPARE(namesOnDisk(dir), std::set<std::string>({"n0.png", "n1.gif", "n2.gif"}));
    }

    // A run over a list that emptied after Get: an empty bar, not a busy one.
    void emptyListShowsAnEmptyBar() {
        openAndGet();
        pickExtension("txt");
        fs::remove(dir / "c.txt");
        w->File1->refresh();
        QCOMPARE(w->File1->listCount(), 0L);
        QTest::keyClicks(w->NewNa, "n");
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        QCOMPARE(messages, QStringList({"変更完了"}));
        QVERIFY(w->PB->maximum() > w->PB->minimum());
        QCOMPARE(w->PB->value(), w->PB->minimum());
        QVERIFY(!fs::exists(prog / "Old.ini")); // nothing renamed, nothing recorded
    }

    // A clash: the message, then the restore confirmation with the renamed pair.
    void clashOpensTheRestoreConfirmation() {
        makeFiles({"a.jpg", "b.jpg", "n1.jpg"});
        openAndGet();
        QTest::keyClicks(w->NewNa, "n");
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        QCOMPARE(messages,
                 QStringList({"既に同名のファイルが存在します、ファイル名を変更してください。"}));
        tavrin::ui::RestoreDialog* dialog = shownRestoreDialog();
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->ListOldName->model()->rowCount(), 1);
        QCOMPARE(dialog->ListOldName->model()->index(0, 0).data().toString(),
                 QStringLiteral("a.jpg"));
        QCOMPARE(dialog->ListNewName->model()->index(0, 0).data().toString(),
                 QStringLiteral("n0.jpg"));
        QCOMPARE(namesOnDisk(dir), std::set<std::string>({"n0.jpg", "b.jpg", "n1.jpg"}));
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QCOMPARE(namesOnDisk(dir), std::set<std::string>({"a.jpg", "b.jpg", "n1.jpg"}));
    }
};

QTEST_MAIN(WindowRunTest)
#include "window_run_test.moc"
