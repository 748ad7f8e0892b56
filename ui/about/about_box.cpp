#include "ui/about/about_box.h"

#include "engine/sysinfo.h"
#include "platform/gui/gui.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

namespace tavrin::ui {

namespace {

const QString programTitle = QStringLiteral("Tavrin");

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromUtf8(name));
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect rect) {
    auto* l = named(new QLabel(text, parent), name);
    l->setGeometry(rect);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

void setTextColour(QLabel* l, QColor colour) {
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
}

// A horizontal line from x1 to x2 at y (twips), `thickness` pixels from y down.
QFrame* line(QWidget* parent, int x1, int x2, int y, int thickness, QColor colour) {
    auto* f = named(new QFrame(parent), "Line1");
    f->setFrameShape(QFrame::NoFrame);
    f->setAutoFillBackground(true);
    QPalette p = f->palette();
    p.setColor(QPalette::Window, colour);
    f->setPalette(p);
    f->setGeometry(gui::px(x1), gui::px(y), gui::px(x2) - gui::px(x1) + 1, thickness);
    return f;
}

} // namespace

AboutBox::AboutBox(std::function<void()> showMainWindow, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      showMainWindow_(std::move(showMainWindow)) {
    setObjectName(QStringLiteral("バージョン情報"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    setWindowIcon(gui::programIcon());
    setFixedSize(gui::px(5730), gui::px(2505));
    setFont(gui::gothic(9));

    picIcon = named(new QLabel(this), "picIcon");
    picIcon->setPixmap(gui::programIcon().pixmap(32, 32));
    picIcon->setGeometry(gui::px(240), gui::px(240), 32, 32);
    picIcon->setFocusPolicy(Qt::TabFocus);
    picIcon->setAccessibleName(QStringLiteral("Tavrinのアイコン")); // it takes the focus

    lblTitle = label(this, "lblTitle", {}, gui::twips(1050, 240, 3885, 480));
    lblTitle->setFont(gui::gothic(15.75, true));
    setTextColour(lblTitle, QColor(128, 128, 255));

    lblVersion = label(this, "lblVersion", QStringLiteral("ﾊﾞｰｼﾞｮﾝ    " TAVRIN_VERSION),
                       gui::twips(1050, 780, 3885, 225));
    lblVersion->setFont(gui::gothic(12, true));

    lblDescription = label(this, "lblDescription", QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの説明"),
                           gui::twips(1050, 1125, 3885, 210));
    setTextColour(lblDescription, Qt::black);

    Label1 =
        label(this, "Label1",
              QStringLiteral("指定フォルダー（ドライブ）のファイル名を一括変更するソフトです。"),
              gui::twips(960, 1440, 4095, 375));
    Label1->setWordWrap(true);

    // White below, grey on top of it: an etched separator.
    Line1[0] = line(this, 105, 5654, 1920, 2, Qt::white);
    Line1[1] = line(this, 120, 5684, 1920, 1, QColor(128, 128, 128));

    cmdOK = named(new QPushButton(QStringLiteral("OK"), this), "cmdOK");
    cmdOK->setGeometry(gui::twips(2880, 2040, 1310, 345));
    cmdOK->setDefault(true);

    cmdSysInfo = named(new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this), "cmdSysInfo");
    cmdSysInfo->setGeometry(gui::twips(4260, 2040, 1310, 345));

    setTabOrder(cmdOK, picIcon);
    setTabOrder(picIcon, cmdSysInfo);
    cmdOK->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, &AboutBox::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &AboutBox::cmdSysInfo_Click);

    Form_Load();
}

void AboutBox::Form_Load() {
    setWindowTitle(programTitle + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    lblTitle->setText(programTitle);
}

void AboutBox::cmdOK_Click() {
    hide();
    if (showMainWindow_)
        showMainWindow_();
}

void AboutBox::reject() {
    cmdOK_Click();
}

void AboutBox::cmdSysInfo_Click() {
    StartSysInfo();
}

void AboutBox::StartSysInfo() {
    if (!startSysInfoFailed())
        return;
    const QString text = QString::fromUtf8(sysInfoUnavailableText);
    if (messageHook_)
        messageHook_(text);
    else
        gui::showMessageBox(text);
}

void AboutBox::setMessageHookForTesting(std::function<void(const QString&)> hook) {
    messageHook_ = std::move(hook);
}

// Centred on the screen the first time; later showings keep their place. A
// showing activates the box, so Enter and Esc work at once even where no window
// manager hands it the focus.
void AboutBox::setVisible(bool visible) {
    if (visible && !placed_) {
        placed_ = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QDialog::setVisible(visible);
    if (visible) {
        raise();
        activateWindow();
    }
}

} // namespace tavrin::ui
