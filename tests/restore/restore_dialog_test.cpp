#include "engine/rename_run.h"
#include "engine/tavrinM.h"
#include "platform/fs.h"
#include "platform/gui/gui.h"
#include "tests/native_path.h"
#include "ui/restore/restore_dialog.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using tavrin::testing::folderText;
using tavrin::testing::nativePath;
using tavrin::testing::pathOf;
using tavrin::testing::text;
using tavrin::ui::RestoreDialog;

namespace {

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

QStringList items(const QListView* list) {
    QStringList out;
    for (int i = 0; i < list->model()->rowCount(); ++i) {
        out << list->model()->index(i, 0).data().toString();
    }
    return out;
}

QRect rowRect(const QListView* list, int row) {
    return list->visualRect(list->model()->index(row, 0));
}

} // namespace

class RestoreDialogTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir temp;
    fs::path dir, prog;
    QStringList messages;
    QStringList mainCalls;

    void makeFile(const std::string& name, const std::string& content) {
        std::ofstream(dir / pathOf(name), std::ios::binary) << content;
    }
    RestoreDialog* openDialog() {
        return new RestoreDialog(
            {[this] { mainCalls << "show"; }, [this] { mainCalls << "refresh"; }});
    }
    void runOver(const std::vector<std::string>& files, const std::string& base) {
        tavrin::FixedRunInputs in;
        in.Folder = text(dir);
        in.Files = files;
        in.Base = base;
        in.SelectedExt = "txt";
        tavrin::RunActions none;
        QCOMPARE(tavrin::RenameRun(in, none), tavrin::RunEnding::Completed);
        messages.clear(); // the run's own "変更完了"
    }

private slots:
    void initTestCase() {
        tavrin::gui::useGothicByDefault(); // as the program does at start
    }

    void init() {
        QVERIFY(temp.isValid());
        const fs::path root = nativePath(temp.path());
        dir = root / ("files" + std::to_string(QRandomGenerator::global()->generate()));
        prog = dir / "prog";
        fs::create_directories(prog);
        tavrin::platform::setProgramFolderForTesting(text(prog));
        messages.clear();
        mainCalls.clear();
        tavrinM::setMessageFunction(
            [this](const std::string& text) { messages << QString::fromStdString(text); });
    }

    void cleanup() {
        tavrinM::setMessageFunction({});
        tavrin::platform::setProgramFolderForTesting({});
    }

    void listsShowThePairsInFileOrder() {
        makeFile("b.txt", "B");
        makeFile("a.txt", "A");
        runOver({"b.txt", "a.txt"}, "n");
        QPointer<RestoreDialog> dialog = openDialog();
        QCOMPARE(items(dialog->ListNewName), QStringList({"n0.txt", "n1.txt"}));
        QCOMPARE(items(dialog->ListOldName), QStringList({"b.txt", "a.txt"}));
        // The state holds the last pair, as after a walk over them all.
        QCOMPARE(tavrinM::FolderPath, folderText(dir));
        QCOMPARE(tavrinM::OldName, std::string("a.txt"));
        QCOMPARE(tavrinM::NewName, std::string("n1.txt"));
        delete dialog;
    }

    void layoutFollowsTheTwips() {
        QPointer<RestoreDialog> dialog = openDialog();
        QCOMPARE(dialog->objectName(), QStringLiteral("復元確認"));
        QCOMPARE(dialog->size(), QSize(410, 311));
        QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(dialog->ListNewName->geometry(), QRect(16, 16, 169, 229));
        QCOMPARE(dialog->ListOldName->geometry(), QRect(224, 16, 169, 229));
        QCOMPARE(dialog->Command1->geometry(), QRect(240, 272, 65, 25));
        QCOMPARE(dialog->Command2->text(), QStringLiteral("キャンセル"));
        QVERIFY(!dialog->Command1->isDefault() && !dialog->Command1->autoDefault());
        QVERIFY(!dialog->Command2->isDefault() && !dialog->Command2->autoDefault());
        dialog->showCentred();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QCOMPARE(QApplication::focusWidget(), dialog->ListOldName);
        QStringList names; // what a screen reader says as the focus moves on
        for (QWidget* next :
             {static_cast<QWidget*>(dialog->ListNewName), static_cast<QWidget*>(dialog->Command1),
              static_cast<QWidget*>(dialog->Command2),
              static_cast<QWidget*>(dialog->ListOldName)}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
            names << QAccessible::queryAccessibleInterface(next)->text(QAccessible::Name);
        }
        QCOMPARE(names, QStringList({"変更後の名前", "実行", "キャンセル", "元の名前"}));
        QVERIFY(!dialog->Image1->pixmap().isNull());
        delete dialog;
    }

    // Row k of one list lies beside row k of the other: neither list grows a
    // horizontal scroll bar for long names, and neither has a current row or a
    // selection, however it gets the focus, keys or clicks; keys scroll it.
    void listsOnlyDisplayRowBesideRow() {
        std::vector<std::string> files;
        for (int i = 0; i < 30; ++i) {
            files.push_back("a_long_name_much_wider_than_the_list_itself_" + std::to_string(i) +
                            ".txt");
            makeFile(files.back(), "x");
        }
        runOver(files, "n");
        QPointer<RestoreDialog> dialog = openDialog();
        dialog->showCentred();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        for (QListView* list : {dialog->ListOldName, dialog->ListNewName}) {
            list->setFocus(Qt::TabFocusReason);
            QCOMPARE(list->currentIndex().row(), -1);
            QTest::keyClick(list, Qt::Key_Down);
            QTest::keyClick(list, Qt::Key_A); // would find "a_long_name..."
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowRect(list, 2).center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowRect(list, 3).center());
            QCOMPARE(list->currentIndex().row(), -1);
            QVERIFY(list->selectionModel()->selectedIndexes().isEmpty());
            QCOMPARE(list->verticalScrollBar()->value(), 1);
            QVERIFY(!list->horizontalScrollBar()->isVisible());
            QTest::keyClick(list, Qt::Key_End);
        }
        QCOMPARE(dialog->ListOldName->viewport()->height(),
                 dialog->ListNewName->viewport()->height());
        QCOMPARE(rowRect(dialog->ListOldName, 29), rowRect(dialog->ListNewName, 29));
        delete dialog;
    }

    // A close request (Alt+F4, the window manager's Close) on the borderless
    // dialog once ended the program: it cancels now.
    void closeRequestCancels() {
        makeFile("a.txt", "A");
        runOver({"a.txt"}, "n");
        const std::string oldBefore = readBytes(prog / "Old.ini");
        QPointer<RestoreDialog> dialog = openDialog();
        dialog->showCentred();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QVERIFY(!dialog->close());
        QCOMPARE(lastClosed.count(), 0);
        QCOMPARE(mainCalls, QStringList({"show"}));
        QVERIFY(messages.isEmpty());
        QCOMPARE(readBytes(prog / "Old.ini"), oldBefore);
        QVERIFY(fs::exists(dir / "n0.txt"));
        QVERIFY(dialog->isHidden());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dialog.isNull()); // unloaded, as by "キャンセル"
    }

    void executeRestoresAndDeletesTheHistory() {
        makeFile("a.txt", "A");
        makeFile("b.txt", "B");
        runOver({"a.txt", "b.txt"}, "n");
        QPointer<RestoreDialog> dialog = openDialog();
        dialog->showCentred();
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QCOMPARE(messages, QStringList({"復元完了"}));
        QCOMPARE(mainCalls, QStringList({"show", "refresh"}));
        QCOMPARE(readBytes(dir / "a.txt"), std::string("A"));
        QCOMPARE(readBytes(dir / "b.txt"), std::string("B"));
        QVERIFY(!fs::exists(prog / "Old.ini") && !fs::exists(prog / "New.ini"));
        QVERIFY(dialog->isHidden());
        QTest::qWait(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dialog.isNull()); // unloaded
    }

    void partialRestoreKeepsWhatItCouldNotRestore() {
        makeFile("a.txt", "A");
        makeFile("b.txt", "B");
        runOver({"a.txt", "b.txt"}, "n");
        makeFile("b.txt", "squatter"); // b.txt was taken since the run
        QPointer<RestoreDialog> dialog = openDialog();
        dialog->Command1_Click();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith("復元できなかったファイルがあります：1件\nn1.txt："),
                 qPrintable(messages[0]));
        QVERIFY(messages[0].endsWith(
            "\n変更履歴に残しました。原因を取り除いてから、もう一度復元できます。"));
        const std::string folder = "-" + folderText(dir) + "\r\n";
        QCOMPARE(readBytes(prog / "Old.ini"), folder + "b.txt\r\n");
        QCOMPARE(readBytes(prog / "New.ini"), folder + "n1.txt\r\n");
        QCOMPARE(readBytes(dir / "a.txt"), std::string("A"));
        QCOMPARE(mainCalls, QStringList({"show", "refresh"}));
    }

    // "実行" restores the history as it stands then: a run made after the
    // dialog opened (by a second instance, say) is the one undone.
    void executeRestoresTheHistoryAsItStandsThen() {
        makeFile("a.txt", "A");
        runOver({"a.txt"}, "n");
        QPointer<RestoreDialog> dialog = openDialog();
        runOver({"n0.txt"}, "m");
        dialog->Command1_Click();
        QCOMPARE(messages, QStringList({"復元完了"}));
        QCOMPARE(readBytes(dir / "n0.txt"), std::string("A"));
        QVERIFY(!fs::exists(dir / "m0.txt"));
    }

    // "実行" never says "復元完了" when the history was not brought to its end.
    void executeSaysWhyTheHistoryIsLeft() {
        makeFile("a.txt", "A");
        runOver({"a.txt"}, "n");
        tavrin::platform::FolderLock other; // a second instance at work
        QVERIFY(other.acquire(prog.string()).ok());
        QPointer<RestoreDialog> dialog = openDialog();
        dialog->Command1_Click();
        QCOMPARE(messages, QStringList({"変更履歴を書き換えられないため、復元を中止しました：" +
                                        QString::fromStdString(text(prog / "Old.ini")) +
                                        "\nほかのプログラムが変更履歴を使っています"}));
        QVERIFY(fs::exists(dir / "n0.txt"));
        other.release();

        messages.clear();
        std::ofstream(prog / "Old.ini", std::ios::binary) << "-" << folderText(dir) << "\r\n";
        fs::remove(prog / "New.ini");
        fs::create_directories(prog / "New.ini" / "in"); // cannot be deleted
        dialog = openDialog();
        dialog->Command1_Click();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith(
                     "ファイルは元の名前に戻しましたが、変更履歴を削除できませんでした：" +
                     QString::fromStdString(text(prog / "New.ini")) + "\n"),
                 qPrintable(messages[0]));
    }

    void cancelLeavesEverythingAndANewRunIsShownNextTime() {
        makeFile("a.txt", "A");
        runOver({"a.txt"}, "first");
        QPointer<RestoreDialog> dialog = openDialog();
        const std::string oldBefore = readBytes(prog / "Old.ini");
        QTest::mouseClick(dialog->Command2, Qt::LeftButton);
        QVERIFY(messages.isEmpty());
        QCOMPARE(mainCalls, QStringList({"show"}));
        QCOMPARE(readBytes(prog / "Old.ini"), oldBefore);
        QVERIFY(fs::exists(dir / "first0.txt"));

        runOver({"first0.txt"}, "second");
        QPointer<RestoreDialog> again = openDialog();
        QCOMPARE(items(again->ListNewName), QStringList({"second0.txt"}));
        QCOMPARE(items(again->ListOldName), QStringList({"first0.txt"}));
        delete again;
    }
};

QTEST_MAIN(RestoreDialogTest)
#include "restore_dialog_test.moc"
