#include "engine/sysinfo.h"
#include "engine/tavrinM.h"
#include "platform/fs.h"
#include "platform/gui/gui.h"
#include "platform/program.h"
#include "platform/registry.h"
#include "ui/about/about_box.h"
#include "ui/about/menu_commands.h"

#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using tavrin::ui::AboutBox;

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

const QString noEditor =
    QStringLiteral("テキストエディターを起動できません。次のファイルを開いてお読みください：\n");

// No registry entries at all: the system-information steps end in the message.
class EmptyRegistry : public tavrin::platform::Registry {
public:
    long openKey(tavrin::platform::RegKey, const char*, std::uint32_t,
                 tavrin::platform::RegKey*) override {
        return tavrin::platform::errorFileNotFound;
    }
    long queryValue(tavrin::platform::RegKey, const char*, std::uint32_t*, unsigned char*,
                    std::uint32_t*) override {
        return tavrin::platform::errorFileNotFound;
    }
    long closeKey(tavrin::platform::RegKey) override { return 0; }
};

class RecordingStarter : public tavrin::platform::ProgramStarter {
public:
    QStringList lines;
    QList<int> styles;
    bool starts = true;
    bool startProgram(const std::string& line, int style) override {
        lines << QString::fromStdString(line);
        styles << style;
        return starts;
    }
    bool startFile(const std::string& path, int style) override {
        return startProgram(path, style);
    }
};

} // namespace

class AboutBoxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        tavrin::gui::useGothicByDefault(); // as the program does at start
    }

    void startState() {
        int shown = 0;
        AboutBox box([&] { ++shown; });
        QCOMPARE(box.objectName(), QStringLiteral("バージョン情報"));
        QCOMPARE(box.windowTitle(), QStringLiteral("Tavrinのﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(box.lblTitle->text(), QStringLiteral("Tavrin"));
        QCOMPARE(box.lblVersion->text(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ    " TAVRIN_VERSION));
        QCOMPARE(box.lblDescription->text(), QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの説明"));
        QCOMPARE(box.size(), QSize(382, 167));
        QCOMPARE(box.lblTitle->geometry(), QRect(70, 16, 259, 32));
        QCOMPARE(box.cmdOK->geometry(), QRect(192, 136, 87, 23));
        QCOMPARE(box.cmdSysInfo->geometry(), QRect(284, 136, 87, 23));
        QCOMPARE(box.picIcon->size(), QSize(32, 32));
        QVERIFY(box.cmdOK->isDefault());
        QVERIFY(!(box.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(box.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(box.lblTitle->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QVERIFY(box.lblTitle->font().bold());
        QCOMPARE(box.lblTitle->palette().color(QPalette::WindowText), QColor(128, 128, 255));
        QCOMPARE(box.cmdOK->nextInFocusChain(), box.picIcon);
        QCOMPARE(box.picIcon->nextInFocusChain(), box.cmdSysInfo);
        QCOMPARE(shown, 0);
    }

    // Every way out hides the box and shows the main window, and the box stays.
    void waysOut_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("OK clicked") << 0;
        QTest::newRow("Enter") << 1;
        QTest::newRow("Esc") << 2;
        QTest::newRow("close box") << 3;
    }
    void waysOut() {
        QFETCH(int, way);
        int shown = 0;
        AboutBox box([&] { ++shown; });
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        switch (way) {
        case 0:
            box.cmdOK->click();
            break;
        case 1:
            QTest::keyClick(&box, Qt::Key_Return);
            break;
        case 2:
            QTest::keyClick(&box, Qt::Key_Escape);
            break;
        default:
            box.close();
            break;
        }
        QVERIFY(box.isHidden());
        QCOMPARE(shown, 1);
    }

    void menuRoundTripReusesTheLoadedBox() {
        QWidget main;
        main.show();
        tavrin::ui::showAboutInPlaceOf(&main);
        AboutBox* box = tavrin::ui::loadedAboutBox();
        QVERIFY(box);
        QVERIFY(main.isHidden());
        QVERIFY(box->isVisible());
        box->lblTitle->setProperty("marker", 1); // survives only if no new load happens
        const QPoint place(40, 30);
        box->move(place);
        box->cmdOK->click();
        QVERIFY(box->isHidden());
        QVERIFY(main.isVisible());

        tavrin::ui::showAboutInPlaceOf(&main);
        QCOMPARE(tavrin::ui::loadedAboutBox(), box);
        QCOMPARE(box->lblTitle->property("marker").toInt(), 1);
        QCOMPARE(box->windowTitle(), QStringLiteral("Tavrinのﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(box->pos(), place);
        QVERIFY(main.isHidden());
        QTest::keyClick(box, Qt::Key_Escape);
        QVERIFY(main.isVisible());

        // Closing the box while the main window is hidden must not end the program.
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        tavrin::ui::showAboutInPlaceOf(&main);
        QVERIFY(box->close());
        QVERIFY(main.isVisible());
        QCOMPARE(lastClosed.count(), 0);
    }

    // Each showing activates the box, so Enter and Esc work at once. This suite
    // runs on the "minimal" platform, which, like a display without a window
    // manager, activates a window only when the program asks for it (and once
    // when it creates it: hence the second showing).
    void activeWhenShown() {
        QWidget main;
        for (int showing = 1; showing <= 2; ++showing) {
            main.show();
            main.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&main));
            tavrin::ui::showAboutInPlaceOf(&main);
            AboutBox* box = tavrin::ui::loadedAboutBox();
            QVERIFY(QTest::qWaitForWindowActive(box));
            QCOMPARE(QApplication::focusWidget(), box->cmdOK);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QVERIFY(box->isHidden());
            QVERIFY(main.isVisible());
        }
    }

    void sysInfoWithNothingRegisteredShowsTheMessageAndStays() {
        EmptyRegistry reg;
        RecordingStarter starter;
        tavrin::platform::setRegistryForTesting(&reg);
        tavrin::platform::setProgramStarterForTesting(&starter);
        AboutBox box([] {});
        QStringList messages;
        box.setMessageHookForTesting([&](const QString& text) { messages << text; });
        box.show();
        QCOMPARE(box.cmdSysInfo->shortcut(), QKeySequence(QStringLiteral("Alt+S")));
        box.cmdSysInfo->click();
        QCOMPARE(messages, QStringList{QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません")});
        QVERIFY(starter.lines.isEmpty());
        QVERIFY(box.isVisible());
        tavrin::platform::setRegistryForTesting(nullptr);
        tavrin::platform::setProgramStarterForTesting(nullptr);
    }

    void readmeStartsTheEditorMinimised() {
        RecordingStarter starter;
        tavrin::platform::setProgramStarterForTesting(&starter);
        tavrin::platform::setProgramFolderForTesting("/opt/my tools");
        QStringList messages;
        tavrinM::setMessageFunction([&](const std::string& t) { messages << qs(t); });
        tavrin::ui::showReadme();
        tavrin::ui::showReadme();
        QVERIFY(messages.isEmpty());
        starter.starts = false; // no editor at all: the message says where the file is
        tavrin::ui::showReadme();
        tavrinM::setMessageFunction({});
        tavrin::platform::setProgramFolderForTesting({});
        tavrin::platform::setProgramStarterForTesting(nullptr);
        const QString sep(QChar::fromLatin1(tavrin::platform::separator()));
        const QString line = "NOTEPAD /opt/my tools" + sep + "readme.txt";
        QCOMPARE(starter.lines, (QStringList{line, line, line}));
        QCOMPARE(starter.styles, (QList<int>{2, 2, 2}));
        QCOMPARE(messages, QStringList{noEditor + "/opt/my tools" + sep + "readme.txt"});
    }

    // Not a check: writes the box as it looks, for a person to inspect.
    void render() {
        AboutBox box([] {});
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QString out = qEnvironmentVariable("TAVRIN_ABOUT_PNG");
        if (!out.isEmpty())
            QVERIFY(box.grab().save(out));
    }
};

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
