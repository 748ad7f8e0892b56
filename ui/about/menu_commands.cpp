#include "ui/about/menu_commands.h"

#include "engine/sysinfo.h"
#include "platform/fs.h"
#include "platform/program.h"
#include "ui/about/about_box.h"

#include <QPointer>
#include <QWidget>

namespace tavrin::ui {

namespace {
// Loaded once and kept for the whole program: the undo command reloads the main
// window, but not the About box.
QPointer<AboutBox> aboutBox;
// The main window the box hid, shown again when the box goes away.
QPointer<QWidget> hiddenMainWindow;
} // namespace

void showReadme() {
    // An editor that cannot start has nothing to report: the command is fire-and-forget.
    platform::startProgram(readmeCommandLine(platform::programFolder()), platform::showMinimized);
}

void showAboutInPlaceOf(QWidget* mainWindow) {
    if (!aboutBox) {
        aboutBox = new AboutBox([] {
            if (hiddenMainWindow) {
                hiddenMainWindow->show();
                hiddenMainWindow->raise();
                hiddenMainWindow->activateWindow();
            }
        });
    }
    hiddenMainWindow = mainWindow;
    if (mainWindow)
        mainWindow->hide();
    aboutBox->show();
}

AboutBox* loadedAboutBox() {
    return aboutBox.data();
}

} // namespace tavrin::ui
