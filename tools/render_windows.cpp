// Renders the windows offscreen to PNG files, so their look can be checked
// without a display: render_windows OUTPUT_FOLDER
#include "platform/gui/gui.h"
#include "ui/main/forms.h"
#include "ui/main/main_window.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tavrin::gui::installFontSubstitution();
    QApplication::setFont(tavrin::gui::gothic(9));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    tavrin::ui::MainWindow* window = tavrin::ui::forms::loadMainWindow();
    window->showCentred();
    for (int tab = 0; tab < window->OpTb->count(); ++tab) {
        window->OpTb->setCurrentIndex(tab);
        QApplication::processEvents();
        const QString file = out + QStringLiteral("/main-tab%1.png").arg(tab);
        if (!window->grab().save(file)) {
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}
