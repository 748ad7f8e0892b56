// Renders the windows offscreen to PNG files, so their look can be checked
// without a display: render_windows OUTPUT_FOLDER
// The main window (each tab, then after Get), the restore confirmation and the
// About box, over a sample folder and history made in a temporary folder.
#include "engine/tavrinM.h"
#include "platform/fs.h"
#include "platform/gui/gui.h"
#include "ui/about/about_box.h"
#include "ui/about/menu_commands.h"
#include "ui/main/forms.h"
#include "ui/main/main_window.h"
#include "ui/restore/restore_dialog.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>

namespace {

QString out;

bool save(QWidget* window, const char* name) {
    QApplication::processEvents();
    const QString file = out + "/" + QString::fromUtf8(name) + ".png";
    if (!window->grab().save(file)) {
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

void touch(const QString& file, const std::string& content = {}) {
    std::ofstream(file.toStdString(), std::ios::binary) << content;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tavrin::gui::useGothicByDefault();
    out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    // A folder a few levels down, with subfolders, files of several extensions
    // and one long name; a history of a run over it.
    QTemporaryDir temp;
    const QString folder = temp.path() + QStringLiteral("/Documents/Photos/2024");
    for (const char* sub : {"trip", "祭り", "old_scans"}) {
        QDir().mkpath(folder + "/" + QString::fromUtf8(sub));
    }
    const char* const files[] = {
        "0001.jpg",       "0002_北海道旅行_夏休み_家族写真_とても長い名前.jpg",
        "archive.tar.gz", "backup.tar.gz",
        "data.csv",       "notes.txt",
        "README"};
    for (const char* name : files) {
        touch(folder + "/" + QString::fromUtf8(name));
    }
    QDir().mkpath(temp.path() + "/prog");
    tavrin::platform::setProgramFolderForTesting((temp.path() + "/prog").toStdString());
    const std::string head = "-" + folder.toStdString() + "/\r\n";
    touch(temp.path() + "/prog/Old.ini",
          head + "0001.jpg\r\n0002_北海道旅行_夏休み_家族写真_とても長い名前.jpg\r\n");
    touch(temp.path() + "/prog/New.ini", head + "n0.jpg\r\nn1.jpg\r\n");
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

    tavrin::ui::RestoreDialog restore({});
    restore.showCentred();
    if (!save(&restore, "restore")) {
        return 1;
    }
    restore.hide();

    tavrin::ui::showAboutInPlaceOf(window);
    return save(tavrin::ui::loadedAboutBox(), "about") ? 0 : 1;
}
