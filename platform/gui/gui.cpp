#include "platform/gui/gui.h"

#include "engine/tavrinM.h"
#include "platform/gui/fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>

namespace tavrin::gui {

QFont gothic(double pointSize, bool bold) {
    QFont font(gothicName);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

void installFontSubstitution() {
    if (QFontDatabase::families().contains(gothicName)) {
        return;
    }
    QStringList installed;
    for (const QString& family : gothicFallbacks()) {
        if (QFontDatabase::families().contains(family)) {
            installed << family;
        }
    }
    if (!installed.isEmpty()) {
        QFont::insertSubstitutions(gothicName, installed);
    }
}

void showMessageBox(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tavrin"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void installMessageBox() {
    tavrinM::setMessageFunction([](const std::string& text) { showMessageBox(qs(text)); });
}

void yieldToEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace tavrin::gui
