#ifdef TAVRIN_WITH_WINDOWS
#include "platform/fs.h"
#include "platform/gui/gui.h"
#include "ui/main/forms.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrin"));
    tavrin::gui::useJapaneseQtTexts();
    tavrin::gui::useProgramIcon();
    tavrin::gui::useGothicByDefault();
    tavrin::gui::installMessageBox();
    // Where the history lives is settled once, before any run or undo.
    tavrin::platform::historyFolder();
    tavrin::ui::forms::showMainWindow();
    return app.exec();
}
#else
#include <cstdio>

int main() {
    std::puts("Tavrin was built without Qt 6: only the engine and its tests are here.");
    return 1;
}
#endif
