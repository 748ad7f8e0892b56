#include "engine/help_text.h"
#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/gui/fonts.h"
#include "platform/gui/frame.h"
#include "platform/gui/gui.h"
#include "platform/gui/lists.h"
#include "tests/native_path.h"
#include "ui/about/about_box.h"
#include "ui/about/menu_commands.h"
#include "ui/main/forms.h"
#include "ui/main/main_window.h"
#include "ui/restore/restore_dialog.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <memory>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using tavrin::testing::folderText;
using tavrin::testing::nativePath;
using tavrin::testing::pathOf;
using tavrin::testing::text;
using tavrin::ui::AboutBox;
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

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir temp;
    fs::path dir, prog;
    QStringList messages;
    int ends = 0;
    MainWindow* w = nullptr;

    void makeFiles(const fs::path& folder, std::initializer_list<const char*> names) {
        fs::create_directories(folder);
        for (const char* name : names) {
            std::ofstream(folder / pathOf(name)) << name;
        }
    }
    // Opens `folder` in Dir1 as a double-click would.
    void openFolder(const fs::path& folder) { QVERIFY(w->Dir1->setPath(text(folder)).ok()); }
    std::string readHistory(const char* name) {
        std::ifstream in(prog / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    QString help(int n) {
        tavrin::FillHelpText();
        return qs(tavrinM::HelpText[static_cast<size_t>(n)]);
    }
    QWidget* focusAfterTab() {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        return QApplication::focusWidget();
    }

private slots:
    void initTestCase() {
        tavrin::gui::useGothicByDefault(); // as the program does at start
    }

    void init() {
        QVERIFY(temp.isValid());
        dir = nativePath(temp.path()) / "files";
        prog = nativePath(temp.path()) / "prog";
        fs::remove_all(dir);
        fs::remove_all(prog);
        fs::create_directories(prog);
        makeFiles(dir, {"notes.txt", "photo1.jpg", "photo2.jpg", "A.TXT", ".hidden.txt"});
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
        tavrin::platform::setHistoryCodePageForTesting(0);
    }

    void startState() {
        QCOMPARE(w->objectName(), QStringLiteral("メイン"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Tavrin"));
        QCOMPARE(w->centralWidget()->size(), QSize(503, 279));
        QVERIFY(!w->StrB->isEnabled());
        QVERIFY(w->CoGet->isEnabled());
        QVERIFY(w->RenC->isChecked());
        QVERIFY(!w->LCk->isChecked() && !w->KaC->isChecked() && !w->KacC->isChecked());
        QVERIFY(w->NewK->isHidden());
        QVERIFY(w->NewNa->isEnabled());
        QCOMPARE(w->NewNa->palette().color(QPalette::Base), QColor(128, 128, 255));
        QCOMPARE(w->GetCN->count(), 0);
        QCOMPARE(w->OpTb->currentIndex(), 0);
        QCOMPARE(w->PB->value(), 0);
        QCOMPARE(w->LHlp->text(), help(4));
        QVERIFY(w->LHlp->text().contains(QStringLiteral("support@tavrin.example.com　までご連絡")));
        QCOMPARE(w->File1->pattern(), std::string("*.*"));
        QCOMPARE(w->Dir1->path(), text(nativePath(temp.path())));
        // Geometry in twips: the option tab control and a control on one of its pages.
        QCOMPARE(w->OpTb->geometry(), QRect(8, 112, 164, 137));
        QCOMPARE(w->Frame2->geometry(), QRect(8, 32, 145, 89));
        QCOMPARE(w->Frame2->parentWidget(), w->OpTb);
        QVERIFY(w->Frame2->geometry().top() >= w->OpTb->tabBar()->geometry().bottom());
        QCOMPARE(w->PB->geometry(), QRect(8, 256, 489, 17));
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(w->OpTb->tabBar()->tabRect(i).width(), 41);
        }
        QCOMPARE(w->OpTb->tabText(2), QStringLiteral("ショ"));
    }

    // A screen reader tells every control apart by the text a sighted user reads
    // beside it, on every system. The table lists every control that can take the
    // focus, each tab, the drive list's drop-down list, the progress bar and the
    // menu bar's overflow button.
    void screenReaderNamesEveryControl() {
        QMap<QString, QString> expected = {
            {"Drive1", "ドライブ"},
            {"Drive1 list", "ドライブ"},
            {"Dir1", "フォルダー"},
            {"File1", "ファイル"},
            {"GetCN", "拡張子の選択"},
            {"CoGet", "Get"},
            {"NewNa", "変更後のファイル名"},
            {"StrB", "Start"},
            {"Command1", "End"},
            {"OpTb tab 0", "オプションの説明"},
            {"OpTb tab 1", "変更"},
            {"OpTb tab 2", "連番　or　ランダム"},
            {"OpTb tab 3", "復元"},
            {"KaC", "ファイル名と拡張子"},
            {"KacC", "拡張子のみ"},
            {"NewK", "変更後の拡張子"},
            {"RenC", "連番"},
            {"LCk", "ランダム"},
            {"ReNm", "復元 Ｓｔａｒｔ"},
            {"PB", "進行状況"},
            {"qt_menubar_ext_button", "その他のメニュー"},
        };
        const auto nameOf = [](QObject* control) {
            return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
        };
        // The drive list is read by its name, its entry as its value, and its
        // drop-down list is its child.
        QAccessibleInterface* drive = QAccessible::queryAccessibleInterface(w->Drive1);
        QCOMPARE(drive->text(QAccessible::Value), w->Drive1->currentText());
        QMap<QString, QString> names{{"PB", nameOf(w->PB)},
                                     {"Drive1 list", drive->child(0)->text(QAccessible::Name)}};
        QWidget* more = w->menuBar()->findChild<QWidget*>("qt_menubar_ext_button");
        names[more->objectName()] = nameOf(more);
        QTabBar* tabBar = w->OpTb->tabBar();
        QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(tabBar);
        for (int i = 0; i < tabBar->count(); ++i)
            names[QStringLiteral("OpTb tab %1").arg(i)] = tabs->child(i)->text(QAccessible::Name);
        for (QWidget* control : w->findChildren<QWidget*>()) {
            // The tab bar is read as its tabs, and shows no scroll buttons; the
            // drop-down list is a window of its own.
            if (control->focusPolicy() == Qt::NoFocus || control->focusProxy() != nullptr ||
                control == tabBar || control->parentWidget() == tabBar || control->window() != w)
                continue;
            QVERIFY2(!names.contains(control->objectName()), qPrintable(control->objectName()));
            names[control->objectName()] = nameOf(control);
        }
        QCOMPARE(names, expected);
    }

    // Qt's own texts are Japanese, as in the name box's context menu, and a
    // message box carries the program's icon even when its owner has none.
    void qtTextsAreJapaneseAndBoxesCarryTheIcon() {
        QVERIFY(tavrin::gui::useJapaneseQtTexts());
        const std::unique_ptr<QMenu> menu(w->NewNa->createStandardContextMenu());
        QStringList texts;
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator())
                texts << action->text().section('\t', 0, 0);
        }
        QCOMPARE(texts, QStringList({"元に戻す(&U)", "やり直す(&R)", "切り取り(&T)", "コピー(&C)",
                                     "貼り付け(&P)", "削除", "すべてを選択"}));

        QWidget owner(nullptr, Qt::Window | Qt::FramelessWindowHint);
        owner.show();
        QApplication::setActiveWindow(&owner);
        QImage shown;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            shown = box->windowIcon().pixmap(32).toImage();
            box->close();
        });
        tavrin::gui::showMessageBox(QStringLiteral("復元完了"));
        QCOMPARE(shown, tavrin::gui::programIcon().pixmap(32).toImage());
    }

    // The controls draw with "ＭＳ Ｐゴシック" or a Japanese Gothic standing in for
    // it, never with what the system picks for a name it does not know (under
    // Wine a serif whose taller lines push the frames' captions over their
    // controls).
    void controlsDrawWithTheGothic() {
        QStringList gothics = tavrin::gui::gothicFallbacks();
        gothics << tavrin::gui::gothicName;
        for (QWidget* control : std::initializer_list<QWidget*>{w, w->Frame6, w->GetCN, w->ReNm}) {
            const QString family = QFontInfo(control->font()).family();
            QVERIFY2(gothics.contains(family), qPrintable(control->objectName() + ": " + family));
        }
    }

    // Every control of a frame lies inside the frame as drawn: below its
    // caption and within its lines, on every page of the tab control; also
    // where the system's Gothic has taller lines than the one the table was
    // laid out for (the caption then steps down, but stays readable).
    void framesHoldTheirControls_data() {
        QTest::addColumn<double>("captionPoints");
        QTest::newRow("the Gothic at 9 pt") << 0.0;
        QTest::newRow("a stand-in 17 px tall") << 12.0;
        QTest::newRow("a stand-in 22 px tall") << 15.75;
    }
    void framesHoldTheirControls() {
        QFETCH(double, captionPoints);
        const QList<QGroupBox*> frames = w->findChildren<QGroupBox*>();
        QCOMPARE(frames.size(), 6);
        for (QGroupBox* box : frames) {
            auto* frame = qobject_cast<tavrin::gui::Frame*>(box);
            QVERIFY2(frame != nullptr, qPrintable(box->objectName()));
            if (captionPoints > 0) {
                frame->setFont(tavrin::gui::gothic(captionPoints));
            }
            for (QWidget* control : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                QVERIFY2(frame->contentRect().contains(control->geometry()),
                         qPrintable(box->objectName() + " / " + control->objectName()));
            }
            if (captionPoints > 0) {
                QVERIFY(frame->captionFont().pointSizeF() >= 6);
            } else {
                QCOMPARE(frame->captionFont(), frame->font()); // the layout's own font fits
            }
        }
        QCOMPARE(w->NewNa->parentWidget(), w->Frame6);
        QCOMPARE(w->LHlp->parentWidget(), w->FHelp);
    }

    // GetCN, like File1, never grows a horizontal scroll bar: with more entries
    // than fit and entries wider than the list, it keeps its rows.
    void extensionListHasNoHorizontalScrollBar() {
        for (const char* ext :
             {"tar.gz", "README", "jpeg", "backup.2024.zip", "txt", "csv", "html", "png"}) {
            w->GetCN->addItem(QString::fromUtf8(ext));
        }
        QApplication::processEvents();
        QVERIFY(w->GetCN->verticalScrollBar()->isVisible());
        QVERIFY(!w->GetCN->horizontalScrollBar()->isVisible());
        QVERIFY(w->GetCN->visualItemRect(w->GetCN->item(1)).bottom() <
                w->GetCN->viewport()->height());
    }

    // The About box lives for the whole program: a reload of the main window,
    // as the undo command does it, keeps the box and its place, and the box's OK
    // brings back the window loaded now.
    void aboutBoxOutlivesAReloadOfTheMainWindow() {
        w->con3->trigger();
        const QPointer<AboutBox> box = tavrin::ui::loadedAboutBox();
        QVERIFY(box && box->isVisible() && !w->isVisible());
        box->move(40, 30);
        const QPoint place = box->pos();
        box->cmdOK->click();
        QVERIFY(w->isVisible());

        tavrin::ui::forms::unloadMainWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        w = tavrin::ui::forms::loadMainWindow();
        w->showCentred();
        w->con3->trigger();
        QVERIFY(box); // the same box, not a new one
        QCOMPARE(tavrin::ui::loadedAboutBox(), box.data());
        QVERIFY(box->isVisible() && !w->isVisible());
        QCOMPARE(box->pos(), place);
        box->cmdOK->click();
        QVERIFY(w->isVisible());
    }

    void focusOrderFollowsTheTable() {
        w->File1->setFocus();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->File1));
        // Tab "オ" shown: from OpTb straight to NewNa, past the hidden pages.
        for (QWidget* next : {static_cast<QWidget*>(w->Drive1), static_cast<QWidget*>(w->Dir1),
                              static_cast<QWidget*>(w->Command1)}) {
            QCOMPARE(focusAfterTab(), next); // StrB is disabled and passed over
        }
        QCOMPARE(focusAfterTab(), w->OpTb->tabBar());
        QCOMPARE(focusAfterTab(), static_cast<QWidget*>(w->NewNa));
        QCOMPARE(focusAfterTab(), static_cast<QWidget*>(w->CoGet));
        // Tab "ショ" shown: LCk then RenC.
        w->OpTb->setCurrentIndex(2);
        w->OpTb->tabBar()->setFocus();
        QCOMPARE(focusAfterTab(), static_cast<QWidget*>(w->LCk));
        QCOMPARE(focusAfterTab(), static_cast<QWidget*>(w->RenC));
        QCOMPARE(focusAfterTab(), static_cast<QWidget*>(w->NewNa));
    }

    void numberingPairFlipsBothEveryClick() {
        QTest::mouseClick(w->LCk, Qt::LeftButton, {}, QPoint(6, 6));
        w->OpTb->setCurrentIndex(2);
        QTest::mouseClick(w->LCk, Qt::LeftButton, {}, QPoint(6, 6));
        QVERIFY(!w->LCk->isChecked() && w->RenC->isChecked());
        QTest::mouseClick(w->LCk, Qt::LeftButton, {}, QPoint(6, 6));
        QVERIFY(w->LCk->isChecked() && !w->RenC->isChecked());
        QTest::mouseClick(w->RenC, Qt::LeftButton, {}, QPoint(6, 6));
        QVERIFY(!w->LCk->isChecked() && w->RenC->isChecked());
        QTest::mouseClick(w->RenC, Qt::LeftButton, {}, QPoint(6, 6));
        QVERIFY(w->LCk->isChecked() && !w->RenC->isChecked());
    }

    void extensionOptions_data() {
        QTest::addColumn<QString>("clicks"); // K = KaC, C = KacC, in order
        QTest::addColumn<bool>("newKShown");
        QTest::addColumn<bool>("baseEnabled");
        QTest::newRow("neither") << "" << false << true;
        QTest::newRow("KaC") << "K" << true << true;
        QTest::newRow("KacC") << "C" << true << false;
        QTest::newRow("KacC then KaC") << "CK" << false << false;
        QTest::newRow("KaC then KacC") << "KC" << false << true;
        QTest::newRow("both, KaC off") << "KCK" << true << false;
        QTest::newRow("both, KacC off") << "KCC" << true << true;
        QTest::newRow("KacC twice") << "CC" << false << true;
    }

    void extensionOptions() {
        QFETCH(QString, clicks);
        QFETCH(bool, newKShown);
        QFETCH(bool, baseEnabled);
        w->OpTb->setCurrentIndex(1);
        w->NewK->setText(QStringLiteral("zip"));
        for (const QChar c : clicks) {
            QTest::mouseClick(c == 'K' ? w->KaC : w->KacC, Qt::LeftButton, {}, QPoint(6, 6));
        }
        QCOMPARE(w->NewK->isVisible(), newKShown);
        QCOMPARE(w->NewNa->isEnabled(), baseEnabled);
        QCOMPARE(w->NewNa->palette().color(QPalette::Base),
                 baseEnabled ? QColor(128, 128, 255) : w->NewNa->palette().color(QPalette::Button));
        QCOMPARE(w->NewK->text(), QStringLiteral("zip")); // hiding keeps the text
    }

    void tabsShowTheirHelp() {
        w->OpTb->setCurrentIndex(2);
        QCOMPARE(w->LHlp->text(), help(2));
        w->OpTb->setCurrentIndex(3);
        QCOMPARE(w->LHlp->text(), help(3));
        w->OpTb->setCurrentIndex(0);
        QCOMPARE(w->LHlp->text(), QString());
        w->OpTb->setCurrentIndex(1);
        QCOMPARE(w->LHlp->text(), help(1));
        QVERIFY(w->Frame2->isVisible() && !w->Frame3->isVisible() && !w->Label2->isVisible());
    }

    void clicksInTheListsShowEntryFive() {
        openFolder(dir);
        w->OpTb->setCurrentIndex(0);
        QTest::mouseClick(w->File1->viewport(), Qt::LeftButton, {},
                          w->File1->visualRect(w->File1->model()->index(0, 0)).center());
        QCOMPARE(w->LHlp->text(), help(5));
        QCOMPARE(listed(w->File1).size(), 4); // nothing selected, nothing changed
        w->OpTb->setCurrentIndex(0);
        const std::string before = w->Dir1->path();
        QTest::mouseClick(w->Dir1->viewport(), Qt::LeftButton, {},
                          w->Dir1->visualRect(w->Dir1->model()->index(0, 0)).center());
        QCOMPARE(w->LHlp->text(), help(5));
        QCOMPARE(w->Dir1->path(), before);
    }

    void collectionThenFolderReset() {
        openFolder(dir);
        QCOMPARE(listed(w->File1), QStringList({"A.TXT", "notes.txt", "photo1.jpg", "photo2.jpg"}));
        QTest::mouseClick(w->CoGet, Qt::LeftButton);
        // Exact comparison keeps TXT and txt apart; each at its last occurrence.
        QCOMPARE(w->GetCN->count(), 3);
        QCOMPARE(w->GetCN->item(0)->text(), QStringLiteral("TXT"));
        QCOMPARE(w->GetCN->item(1)->text(), QStringLiteral("txt"));
        QCOMPARE(w->GetCN->item(2)->text(), QStringLiteral("jpg"));
        // Selecting TXT lists both spellings: the file list ignores letter case.
        QCOMPARE(listed(w->File1), QStringList({"A.TXT", "notes.txt"}));
    }

    void patternFollowsTheExtensionList() {
        fs::remove(dir / "A.TXT");
        openFolder(dir);
        QSignalSpy spy(w->File1, &tavrin::gui::FileList::patternChanged);
        QTest::mouseClick(w->CoGet, Qt::LeftButton);
        QCOMPARE(w->GetCNText(), std::string("txt"));
        QCOMPARE(w->File1->pattern(), std::string("*.txt"));
        QCOMPARE(listed(w->File1), QStringList({"notes.txt"}));
        QCOMPARE(w->LHlp->text(), help(6));
        QVERIFY(!w->CoGet->isEnabled() && w->StrB->isEnabled());
        QCOMPARE(spy.count(), 1);
        w->File1->setPattern("*.txt"); // the value it holds: nothing raised
        QCOMPARE(spy.count(), 1);
        w->GetCN->setCurrentRow(1);
        QCOMPARE(listed(w->File1), QStringList({"photo1.jpg", "photo2.jpg"}));
        QCOMPARE(spy.count(), 2);

        // A folder change resets everything the collection set up.
        openFolder(dir.parent_path());
        QCOMPARE(w->GetCN->count(), 0);
        QCOMPARE(w->File1->pattern(), std::string("*.*"));
        QCOMPARE(w->File1->path(), text(dir.parent_path()));
        QVERIFY(w->CoGet->isEnabled() && !w->StrB->isEnabled());
    }

    void emptyFolderSaysSo() {
        fs::create_directories(dir / "empty");
        openFolder(dir / "empty");
        const QString before = w->LHlp->text();
        QTest::mouseClick(w->CoGet, Qt::LeftButton);
        QCOMPARE(messages, QStringList({"ファイルが存在しません"}));
        QVERIFY(w->CoGet->isEnabled() && !w->StrB->isEnabled());
        QCOMPARE(w->LHlp->text(), before);
    }

    void unreadableFolderKeepsTheListsTogether() {
        openFolder(dir);
        const fs::path locked = dir / "locked";
        fs::create_directories(locked);
#ifdef _WIN32
        const bool readsEverything = true; // no permission bits to take away here
#else
        const bool readsEverything = ::geteuid() == 0;
#endif
        if (readsEverything) {
            // root reads every folder: take one that is not there instead
            fs::remove(locked);
        } else {
            fs::permissions(locked, fs::perms::none);
        }
        const tavrin::platform::Status s = w->Dir1->setPath(text(locked));
        QVERIFY(!s.ok());
        QCOMPARE(w->Dir1->path(), text(dir));
        QCOMPARE(w->File1->path(), text(dir));
        std::error_code ignored;
        fs::permissions(locked, fs::perms::owner_all, ignored);
    }

    void fileListLeavesOutWhatTheHistoryCannotHold() {
        QVERIFY(tavrin::platform::setHistoryCodePageForTesting(932));
        makeFiles(dir, {"ok.txt", "tab\there.txt", "smile\xF0\x9F\x98\x80.txt", "写真.txt"});
        openFolder(dir);
        const QStringList names = listed(w->File1);
        QVERIFY(names.contains("ok.txt") && names.contains(QStringLiteral("写真.txt")));
        QVERIFY(!names.contains(".hidden.txt"));
        QCOMPARE(names.filter("tab").size(), 0);
        QCOMPARE(names.filter("smile").size(), 0);
    }

    void startRunsAndCompletes() {
        fs::remove(dir / "A.TXT");
        openFolder(dir);
        QTest::mouseClick(w->CoGet, Qt::LeftButton);
        w->GetCN->setCurrentRow(1); // jpg
        w->NewNa->setText(QStringLiteral("trip"));
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        QCOMPARE(messages, QStringList({"変更完了"}));
        QVERIFY(fs::exists(dir / "trip0.jpg") && fs::exists(dir / "trip1.jpg"));
        QCOMPARE(w->GetCNText(), std::string("txt")); // first entry selected again
        QVERIFY(w->NewNa->text().isEmpty());
        QCOMPARE(w->PB->value(), 0);
        QVERIFY(w->StrB->isEnabled());
        QVERIFY(w->Dir1->isEnabled() && w->GetCN->isEnabled());
    }

    void refusalSwitchesToTabOne() {
        openFolder(dir);
        QTest::mouseClick(w->CoGet, Qt::LeftButton);
        w->OpTb->setCurrentIndex(2);
        w->KaC->setChecked(true);
        w->KacC->setChecked(true);
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        QCOMPARE(messages, QStringList({"オプション 変更はどちらか一方のみ選択可能です"}));
        QCOMPARE(w->OpTb->currentIndex(), 1);
        QCOMPARE(w->LHlp->text(), help(1));
    }

    void undoWithoutHistoryLeavesTheWindowAlone() {
        openFolder(dir);
        w->NewNa->setText(QStringLiteral("keep"));
        w->ReNm_Click();
        QCOMPARE(messages, QStringList({"変更履歴がありません"}));
        QCOMPARE(tavrin::ui::forms::mainWindow(), w);
        QCOMPARE(w->NewNa->text(), QStringLiteral("keep"));
        QCOMPARE(w->Dir1->path(), text(dir));
    }

    void unreadableHistoryNeverLeavesNoWindow() {
        std::ofstream(prog / "Old.ini", std::ios::binary)
            << "-" << folderText(dir) << "\r\na\r\nb\r\n";
        w->ReNm_Click();
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].startsWith(QStringLiteral("変更履歴を読み込めません：") +
                                       qs(text(prog / "New.ini")) + "\n"));
        QCOMPARE(tavrin::ui::forms::mainWindow(), w);
        QVERIFY(w->isVisible());
        // A program folder that cannot be searched is no proof that there is no history.
        messages.clear();
        std::error_code linkError;
        fs::create_symlink(prog / "loop", prog / "loop", linkError);
        if (linkError) {
            QSKIP("symbolic links cannot be made here");
        }
        tavrin::platform::setProgramFolderForTesting((prog / "loop").string());
        w->ReNm_Click();
        tavrin::platform::setProgramFolderForTesting(prog.string());
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].startsWith(QStringLiteral("変更履歴を読み込めません：")));
        QCOMPARE(tavrin::ui::forms::mainWindow(), w);
    }

    void undoGivesWayToTheDialogAndComesBackInStartState() {
        fs::remove(dir / "A.TXT");
        openFolder(dir);
        QTest::mouseClick(w->CoGet, Qt::LeftButton);
        w->NewNa->setText(QStringLiteral("n"));
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        QVERIFY(fs::exists(dir / "n0.txt"));
        messages.clear();

        MainWindow* old = w;
        w->ReNm_Click();
        MainWindow* reloaded = tavrin::ui::forms::mainWindow();
        QVERIFY(reloaded != nullptr && reloaded != old);
        QVERIFY(!reloaded->isVisible());
        tavrin::ui::RestoreDialog* dialog = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<tavrin::ui::RestoreDialog*>(top); d && d->isVisible()) {
                dialog = d;
            }
        }
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->ListOldName->model()->index(0, 0).data().toString(),
                 QStringLiteral("notes.txt"));
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QCOMPARE(messages, QStringList({"復元完了"}));
        QVERIFY(fs::exists(dir / "notes.txt"));
        w = reloaded;
        QVERIFY(w->isVisible());
        QCOMPARE(w->GetCN->count(), 0);
        QVERIFY(!w->StrB->isEnabled());
        QCOMPARE(w->LHlp->text(), help(4));
    }

    void nameClashLeadsIntoTheRestore() {
        fs::remove_all(dir);
        makeFiles(dir, {"a.jpg", "b.jpg", "n1.jpg"}); // b.jpg's new name is taken
        openFolder(dir);
        QTest::mouseClick(w->CoGet, Qt::LeftButton);
        w->NewNa->setText(QStringLiteral("n"));
        QTest::mouseClick(w->StrB, Qt::LeftButton);
        QCOMPARE(messages.first(),
                 QStringLiteral("既に同名のファイルが存在します、ファイル名を変更してください。"));
        QVERIFY(tavrin::ui::forms::mainWindow() != w);
        w = tavrin::ui::forms::mainWindow();
        QVERIFY(fs::exists(dir / "n0.jpg") && fs::exists(dir / "b.jpg"));
        QCOMPARE(readHistory("New.ini"), "-" + folderText(dir) + "\r\nn0.jpg\r\n");
    }

    void endEndsTheProgram() {
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(ends, 1);
        w->close();
        QCOMPARE(ends, 2);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
