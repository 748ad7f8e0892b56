// The windows on Windows itself: the font the windows ask for, the drive list,
// the folder list climbing to a drive's root, the read-me in the system's own
// Notepad, and the system-information program found through the registry.
#include "engine/sysinfo.h"
#include "engine/tavrinM.h"
#include "platform/fs.h"
#include "platform/gui/fonts.h"
#include "platform/gui/gui.h"
#include "platform/gui/lists.h"
#include "platform/win32_text.h"
#include "ui/about/about_box.h"
#include "ui/about/menu_commands.h"
#include "ui/main/forms.h"
#include "ui/main/main_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

#include <optional>

using tavrin::ui::MainWindow;

namespace {

namespace p = tavrin::platform;

std::wstring wide(const QString& text) {
    return text.toStdWString();
}

// The top-level windows of class `windowClass` now open.
QList<HWND> windowsOfClass(const wchar_t* windowClass) {
    struct Search {
        const wchar_t* windowClass;
        QList<HWND> found;
    } search{windowClass, {}};
    EnumWindows(
        [](HWND hwnd, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            wchar_t name[64] = {};
            GetClassNameW(hwnd, name, 64);
            if (lstrcmpiW(name, s.windowClass) == 0) {
                s.found << hwnd;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

QString windowText(HWND hwnd) {
    const auto length = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return QString::fromStdWString(text);
}

// Closes the window and waits for its program to end.
void closeAndWait(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    if (process != nullptr) {
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
}

// A value under HKEY_LOCAL_MACHINE, set for one case and put back afterwards.
class MachineValue {
public:
    MachineValue(const wchar_t* key, const wchar_t* name) : key_(key), name_(name) {
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_, 0, KEY_READ, &h) == ERROR_SUCCESS) {
            wchar_t data[1024];
            DWORD size = sizeof data, type = 0;
            if (RegQueryValueExW(h, name_, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ) {
                saved_ = std::wstring(data, size / sizeof(wchar_t)).c_str();
            }
            RegCloseKey(h);
        }
        remove();
    }
    ~MachineValue() {
        if (saved_) {
            set(QString::fromStdWString(*saved_));
        } else {
            remove();
        }
    }
    bool set(const QString& text) {
        HKEY h = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        const std::wstring value = wide(text);
        const LONG rc =
            RegSetValueExW(h, name_, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(h);
        return rc == ERROR_SUCCESS;
    }
    void remove() {
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_, 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
            RegDeleteValueW(h, name_);
            RegCloseKey(h);
        }
    }

private:
    const wchar_t* key_;
    const wchar_t* name_;
    std::optional<std::wstring> saved_;
};

} // namespace

class WindowsGuiTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir temp;
    QStringList messages;
    MainWindow* w = nullptr;

    QString native(const QString& path) const { return QDir::toNativeSeparators(path); }

private slots:
    void initTestCase() {
        tavrin::gui::useGothicByDefault();
        tavrinM::setMessageFunction(
            [this](const std::string& text) { messages << QString::fromStdString(text); });
        tavrin::ui::forms::setEndProgram([] {});
    }

    void init() {
        QVERIFY(temp.isValid());
        messages.clear();
        QDir::setCurrent(temp.path());
        w = tavrin::ui::forms::loadMainWindow();
        w->showCentred();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void cleanup() {
        tavrin::ui::forms::unloadMainWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // "ＭＳ Ｐゴシック" is there on Japanese Windows; elsewhere a Gothic of the
    // system's stands in (under Wine IPA Pゴシック, on a Windows without the
    // Japanese fonts its own UI Gothic). Either way the Japanese texts have
    // their glyphs.
    void gothicRendersJapanese() {
        const QFont font = tavrin::gui::gothic(9);
        const QString family = QFontInfo(font).family();
        qInfo().noquote() << "ＭＳ Ｐゴシック is drawn with" << family;
        QStringList gothics = tavrin::gui::gothicFallbacks();
        gothics << tavrin::gui::gothicName;
        QVERIFY2(gothics.contains(family), qPrintable(family));
        const QFontMetrics metrics(font);
        for (const QChar c : QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報復元確認変更後のファイル名")) {
            QVERIFY2(metrics.inFont(c), qPrintable(QString(c)));
        }
    }

    // One entry per drive the system reports, named "c:" as Windows names them,
    // holding the drive's root.
    void driveListHoldsTheDriveLetters() {
        QStringList letters;
        const DWORD mask = GetLogicalDrives();
        for (int i = 0; i < 26; ++i) {
            if (mask & (1u << i)) {
                letters << QString(QChar('a' + i));
            }
        }
        QStringList shown;
        for (int i = 0; i < w->Drive1->count(); ++i) {
            const QString label = w->Drive1->itemText(i);
            QVERIFY2(QRegularExpression("^[a-z]:( \\[.+\\])?$").match(label).hasMatch(),
                     qPrintable(label));
            QCOMPARE(w->Drive1->itemData(i).toString(), label.left(1).toUpper() + ":\\");
            shown << label.left(1);
        }
        QCOMPARE(shown, letters);
        QVERIFY(letters.contains("c") && letters.contains("z")); // Wine's own two
        const QString start = native(temp.path());
        QCOMPARE(QString::fromStdString(w->Drive1->drive()), start.left(3));
        QCOMPARE(w->Drive1->currentText().left(2), start.left(2).toLower());
    }

    // Choosing another drive moves the folder list to it and resets the window
    // as a change of folder does; choosing the first one again comes back.
    void driveChangeMovesTheFolderList() {
        QFile(temp.filePath("写真.jpg")).open(QIODevice::WriteOnly);
        QVERIFY(w->File1->refresh().ok());
        QTest::mouseClick(w->CoGet, Qt::LeftButton);
        QVERIFY(w->StrB->isEnabled() && w->GetCN->count() == 1);

        const QString start = native(temp.path());
        const int z = w->Drive1->findData(QStringLiteral("Z:\\"));
        QVERIFY(z >= 0);
        w->Drive1->setCurrentIndex(z);
        QCOMPARE(w->Dir1->path(), std::string("Z:\\"));
        QCOMPARE(w->File1->path(), std::string("Z:\\"));
        QCOMPARE(w->GetCN->count(), 0);
        QVERIFY(w->CoGet->isEnabled() && !w->StrB->isEnabled());
        QCOMPARE(w->File1->pattern(), std::string("*.*"));
        QVERIFY(messages.isEmpty());

        w->Drive1->setCurrentIndex(w->Drive1->findData(start.left(3)));
        QCOMPARE(QString::fromStdString(w->Dir1->path()), start.left(3));
    }

    // The folder list shows the way down from the drive's root ("C:\", then
    // each folder), and going up stops there.
    void folderListClimbsToTheDriveRoot() {
        const QString start = native(temp.path());
        const QStringList parts = start.mid(3).split('\\');
        QCOMPARE(w->Dir1->entryPath(0), start.left(3).toStdString());
        QString path = start.left(2);
        for (int i = 0; i < parts.size(); ++i) {
            path += '\\' + parts[i];
            QCOMPARE(QString::fromStdString(w->Dir1->entryPath(i + 1)), path);
        }
        QVERIFY(w->Dir1->setPath(start.left(3).toStdString()).ok());
        QCOMPARE(w->Dir1->path(), start.left(3).toStdString());
        QCOMPARE(QString::fromStdString(w->Dir1->entryPath(0)), start.left(3));
        QVERIFY(w->Dir1->entryPath(1) != w->Dir1->entryPath(0));
    }

    // The lists read the folder through Windows, which marks what users do not
    // see: hidden and system files and folders are not offered.
    void hiddenAndSystemEntriesStayOutOfTheLists() {
        const QDir dir(temp.filePath("lists"));
        QVERIFY(dir.mkpath("."));
        for (const char* name : {"見える.txt", "hidden.txt", "system.txt"}) {
            QFile(dir.filePath(QString::fromUtf8(name))).open(QIODevice::WriteOnly);
        }
        for (const char* name : {"フォルダ", "hidden", "system"}) {
            QVERIFY(dir.mkdir(QString::fromUtf8(name)));
        }
        for (const auto& [name, attribute] : {std::pair{"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
                                              {"hidden", FILE_ATTRIBUTE_HIDDEN},
                                              {"system.txt", FILE_ATTRIBUTE_SYSTEM},
                                              {"system", FILE_ATTRIBUTE_SYSTEM}}) {
            QVERIFY(SetFileAttributesW(wide(native(dir.filePath(name))).c_str(), attribute));
        }
        const std::string folder = native(dir.path()).toStdString();
        QVERIFY(w->Dir1->setPath(folder).ok());
        QCOMPARE(w->File1->listCount(), 1L);
        QCOMPARE(w->File1->list(0), std::string("見える.txt"));
        const int rows = w->Dir1->model()->rowCount();
        QCOMPARE(w->Dir1->entryPath(rows - 2), folder);
        QCOMPARE(w->Dir1->entryPath(rows - 1), folder + "\\フォルダ");
    }

    // "Readme" starts the system's Notepad with the read-me beside the program,
    // minimised; Notepad reads it as the Japanese text it is.
    void readmeOpensInNotepadMinimised() {
        const QList<HWND> before = windowsOfClass(L"Notepad");
        w->con32->trigger();
        HWND notepad = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (HWND hwnd : windowsOfClass(L"Notepad")) {
                    if (!before.contains(hwnd)) {
                        notepad = hwnd;
                    }
                }
                return notepad != nullptr;
            }(),
            20000);
        QTRY_VERIFY_WITH_TIMEOUT(windowText(notepad).contains("readme"), 10000);
        QVERIFY(IsIconic(notepad));
        const HWND edit = FindWindowExW(notepad, nullptr, L"Edit", nullptr);
        QVERIFY(edit != nullptr);
        const QString text = windowText(edit);
        closeAndWait(notepad);
        QVERIFY2(text.startsWith(QStringLiteral("Tavrin  ﾊﾞｰｼﾞｮﾝ " TAVRIN_VERSION "\r\n")),
                 qPrintable(text.left(40)));
        QVERIFY(text.contains(QStringLiteral("■ 元に戻す\r\n")));
        QVERIFY(messages.isEmpty());
    }

    void systemInformation_data() {
        QTest::addColumn<QString>("path");    // the program's path under MSINFO, "PATH"
        QTest::addColumn<QString>("folder");  // the folder under the location key
        QTest::addColumn<bool>("probeThere"); // MSINFO32.EXE lies in that folder
        QTest::addColumn<bool>("starts");

        QTest::newRow("path with spaces and Japanese") << "情報 ツール\\msinfo.exe"
                                                       << "" << false << true;
        QTest::newRow("path to nothing") << "情報 ツール\\none.exe"
                                         << "" << false << false;
        QTest::newRow("path wins over the folder") << "情報 ツール\\none.exe"
                                                   << "folder" << true << false;
        QTest::newRow("folder with MSINFO32.EXE") << ""
                                                  << "folder" << true << true;
        QTest::newRow("folder without it") << ""
                                           << "folder" << false << false;
        QTest::newRow("nothing registered") << ""
                                            << "" << false << false;
    }

    // The About box finds the program through HKEY_LOCAL_MACHINE, starts it in
    // a normal window, or says it cannot.
    void systemInformation() {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(bool, probeThere);
        QFETCH(bool, starts);

        const QString probe = QCoreApplication::applicationDirPath() + "/sysinfo_probe.exe";
        const QString tools = temp.filePath("情報 ツール");
        const QString located = temp.filePath("folder");
        QDir().mkpath(tools);
        QDir().mkpath(located);
        QFile::remove(tools + "/started.txt");
        QFile::remove(located + "/started.txt");
        QFile::remove(located + "/MSINFO32.EXE");
        QVERIFY(QFile::copy(probe, tools + "/msinfo.exe") || QFile::exists(tools + "/msinfo.exe"));
        if (probeThere) {
            QVERIFY(QFile::copy(probe, located + "/MSINFO32.EXE"));
        }

        MachineValue pathValue(L"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", L"PATH");
        MachineValue folderValue(L"SOFTWARE\\Microsoft\\Shared Tools Location", L"MSINFO");
        if (!path.isEmpty()) {
            QVERIFY(pathValue.set(native(temp.filePath(path))));
        }
        if (!folder.isEmpty()) {
            QVERIFY(folderValue.set(native(temp.filePath(folder))));
        }

        w->con3->trigger();
        tavrin::ui::AboutBox* box = tavrin::ui::loadedAboutBox();
        QVERIFY(box != nullptr && box->isVisible());
        QStringList said;
        box->setMessageHookForTesting([&](const QString& text) { said << text; });
        QTest::mouseClick(box->cmdSysInfo, Qt::LeftButton);

        if (starts) {
            const QString started = (path.isEmpty() ? located : tools) + "/started.txt";
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(started).size() > 0, 20000);
            QFile file(started);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("1")); // SW_SHOWNORMAL
            QVERIFY(said.isEmpty());
        } else {
            QCOMPARE(said, QStringList({QString::fromUtf8(tavrin::sysInfoUnavailableText)}));
        }
        QVERIFY(box->isVisible());
        QTest::mouseClick(box->cmdOK, Qt::LeftButton);
        QVERIFY(w->isVisible());
    }
};

QTEST_MAIN(WindowsGuiTest)
#include "windows_gui_test.moc"
