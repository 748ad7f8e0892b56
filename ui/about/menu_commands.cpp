#include "ui/about/menu_commands.h"

#include "engine/sysinfo.h"
#include "platform/fs.h"
#include "platform/program.h"
#include "ui/about/about_box.h"

#include <QPointer>
#include <QWidget>

namespace tavrin::ui {

namespace {
QPointer<AboutBox> aboutBox;
}

void showReadme() {
    // An editor that cannot start has nothing to report: the command is fire-and-forget.
    platform::startProgram(readmeCommandLine(platform::programFolder()), platform::showMinimized);
}

void showAboutInPlaceOf(QWidget* mainWindow) {
    if (!aboutBox) {
        QPointer<QWidget> main = mainWindow;
        aboutBox = new AboutBox([main] {
            if (main)
                main->show();
        });
        // No owner window, but it goes with the main window.
        if (mainWindow)
            QObject::connect(mainWindow, &QObject::destroyed, aboutBox.data(),
                             [box = aboutBox.data()] { delete box; });
    }
    if (mainWindow)
        mainWindow->hide();
    aboutBox->show();
}

AboutBox* loadedAboutBox() {
    return aboutBox.data();
}

} // namespace tavrin::ui
