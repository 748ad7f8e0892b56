// Renders the windows to PNG files, so their look can be checked without
// driving the program: render_windows OUTPUT_FOLDER
// The main window (each tab, then after Get), the restore confirmation, the
// About box and a message box, over a sample folder and history made in a
// temporary folder. On Linux offscreen; the Windows build draws through the
// Windows platform plugin and native style, as tavrin.exe does (under Wine it
// needs an X display).
#include "engine/tavrinM.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/gui/gui.h"
#include "ui/about/about_box.h"
#include "ui/about/menu_commands.h"
#include "ui/main/forms.h"
#include "ui/main/main_window.h"
#include "ui/restore/restore_dialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

QString out;

bool save(QWidget* window, const char* name) {
    QApplication::processEvents();
    const QString file = out + "/" + QString::fromUtf8(name) + ".png";
    if (!window->grab().save(file)) {
        return false;
    }
    std::printf("%s\n", qPrintable(QDir::toNativeSeparators(file)));
    return true;
}

bool touch(const QString& file, const QByteArray& content = {}) {
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

// History lines as a run writes them: in the history code page, CR LF ended.
QByteArray historyText(const QString& folder, const QStringList& names) {
    std::string text;
    std::string line;
    for (const QString& name : QStringList{"-" + folder} + names) {
        if (!tavrin::platform::historyCodePage().encode(tavrin::gui::str(name), line)) {
            return {};
        }
        text += line + "\r\n";
    }
    return QByteArray::fromStdString(text);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", TAVRIN_RENDER_PLATFORM);
    QApplication app(argc, argv);
    tavrin::gui::useGothicByDefault();
    tavrin::gui::installMessageBox();
    out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    // A folder a few levels down, with subfolders, files of several extensions
    // and one long name; a history of a run over it.
    QTemporaryDir temp;
    const QString folder = temp.path() + QStringLiteral("/Documents/Photos/2024");
    for (const char* sub : {"trip", "祭り", "old_scans"}) {
        QDir().mkpath(folder + "/" + QString::fromUtf8(sub));
    }
    const QString longName = QStringLiteral("0002_北海道旅行_夏休み_家族写真_とても長い名前.jpg");
    const QStringList files = {"0001.jpg", longName,    "archive.tar.gz", "backup.tar.gz",
                               "data.csv", "notes.txt", "README"};
    for (const QString& name : files) {
        if (!touch(folder + "/" + name)) {
            return 1;
        }
    }
    const QString prog = QDir::toNativeSeparators(temp.path() + "/prog");
    QDir().mkpath(prog);
    tavrin::platform::setProgramFolderForTesting(tavrin::gui::str(prog));
    const QString recorded = QDir::toNativeSeparators(folder + "/");
    if (!touch(prog + "/Old.ini", historyText(recorded, {"0001.jpg", longName})) ||
        !touch(prog + "/New.ini", historyText(recorded, {"n0.jpg", "n1.jpg"}))) {
        return 1;
    }
    QDir::setCurrent(folder);

    tavrin::ui::MainWindow* window = tavrin::ui::forms::loadMainWindow();
    window->showCentred();
    for (int tab = 0; tab < window->OpTb->count(); ++tab) {
        window->OpTb->setCurrentIndex(tab);
        if (!save(window, ("main-tab" + std::to_string(tab)).c_str())) {
            return 1;
        }
    }
    window->CoGet->click();
    if (!save(window, "main-get")) {
        return 1;
    }

    // The box is modal: it is drawn and closed from inside its own event loop.
    bool boxSaved = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            boxSaved = save(box, "message");
            box->close();
        }
    });
    tavrinM::MsgText = "復元完了";
    tavrinM::ShowMsg();
    if (!boxSaved) {
        return 1;
    }

    tavrin::ui::RestoreDialog restore({});
    restore.showCentred();
    if (!save(&restore, "restore")) {
        return 1;
    }
    restore.hide();

    tavrin::ui::showAboutInPlaceOf(window);
    return save(tavrin::ui::loadedAboutBox(), "about") ? 0 : 1;
}
