#include "ui/main/forms.h"

#include "ui/main/main_window.h"

#include <QCoreApplication>
#include <QPointer>

namespace tavrin::ui::forms {

namespace {

QPointer<MainWindow>& current() {
    static QPointer<MainWindow> window;
    return window;
}

std::function<void()>& endFunction() {
    static std::function<void()> end;
    return end;
}

} // namespace

MainWindow* mainWindow() {
    return current().data();
}

MainWindow* loadMainWindow() {
    current() = new MainWindow;
    current()->setAttribute(Qt::WA_DeleteOnClose, false);
    return current().data();
}

void unloadMainWindow() {
    if (MainWindow* window = current().data()) {
        current() = nullptr;
        window->hide();
        window->deleteLater();
    }
}

void showMainWindow() {
    if (!current()) {
        loadMainWindow();
    }
    current()->showCentred();
}

void endProgram() {
    if (const auto& end = endFunction()) {
        end();
    } else {
        QCoreApplication::quit();
    }
}

void setEndProgram(std::function<void()> end) {
    endFunction() = std::move(end);
}

} // namespace tavrin::ui::forms
