#include "platform/gui/gui.h"

#include "engine/tavrinM.h"
#include "platform/gui/fonts.h"
#include "resources/app_icon.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

namespace tavrin::gui {

namespace {

long turnEvery = 0; // test-only: a turn every so many calls

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

} // namespace

QFont gothic(double pointSize, bool bold) {
    static const bool substituted = (installFontSubstitution(), true);
    Q_UNUSED(substituted);
    QFont font(gothicName);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

void useGothicByDefault() {
    QApplication::setFont(gothic(9));
}

bool useJapaneseQtTexts() {
    auto* qtTexts = new QTranslator(QCoreApplication::instance());
    const QString name = QStringLiteral("qtbase_ja");
    if (!qtTexts->load(name, QStringLiteral(":/i18n")) &&
        !qtTexts->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qtTexts;
        return false;
    }
    return QCoreApplication::installTranslator(qtTexts);
}

QIcon programIcon() {
    return QIcon(QPixmap(ui::appIcon32));
}

void useProgramIcon() {
    QApplication::setWindowIcon(programIcon());
}

void showMessageBox(const QString& text) {
    const QString title = QStringLiteral("Tavrin");
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowIcon(programIcon()); // the owner may have none: the restore dialog has none
    box.button(QMessageBox::Ok)->setIcon({}); // a plain button, whatever the style adds
    // Wide enough that the title bar shows the caption beside the window icon
    // and the buttons, whichever window manager draws them.
    QFont bold = box.font();
    bold.setBold(true);
    const int wanted = QFontMetrics(bold).horizontalAdvance(title) + 160;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}

void installMessageBox() {
    tavrinM::setMessageFunction([](const std::string& text) { showMessageBox(qs(text)); });
}

void setAccessibleNames(QWidget* window,
                        std::initializer_list<std::pair<const char*, QString>> names) {
    for (const auto& [objectName, name] : names) {
        auto* control = window->findChild<QWidget*>(QString::fromUtf8(objectName));
        if (control == nullptr)
            continue;
        control->setAccessibleName(name);
        // A drop-down list is read under its box's name.
        if (auto* box = qobject_cast<QComboBox*>(control))
            box->view()->setAccessibleName(name);
    }
}

void yieldToEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool EventTurns::due() {
    if (turnEvery > 0) {
        return calls_++ % turnEvery == 0;
    }
    const auto now = std::chrono::steady_clock::now();
    if (calls_++ > 0 && now < next_) {
        return false;
    }
    next_ = now + interval;
    return true;
}

void EventTurns::setEveryForTesting(long calls) {
    turnEvery = calls;
}

} // namespace tavrin::gui
