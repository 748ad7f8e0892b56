#include "ui/about/menu_commands.h"

#include "engine/sysinfo.h"
#include "engine/tavrinM.h"
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
    const std::string folder = platform::programFolder();
    if (platform::startProgram(readmeCommandLine(folder), platform::showMinimized))
        return;
    // No editor could be started: say so, with where the read-me lies.
    tavrinM::MsgText =
        "テキストエディターを起動できません。次のファイルを開いてお読みください：\n" + folder +
        platform::separator() + "readme.txt";
    tavrinM::ShowMsg();
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
