#include "ui/main/main_window.h"

#include "engine/collection.h"
#include "engine/help_text.h"
#include "engine/history.h"
#include "engine/rename_run.h"
#include "engine/tavrinM.h"
#include "platform/gui/frame.h"
#include "platform/gui/gui.h"
#include "platform/gui/lists.h"
#include "ui/about/menu_commands.h"
#include "ui/main/forms.h"
#include "ui/restore/restore_dialog.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>

#include <optional>
#include <vector>

namespace tavrin::ui {

using gui::qs;
using gui::str;
using gui::twips;

namespace {

const QColor baseNameBlue(128, 128, 255);

// Four tabs sharing the tab control's width equally, in one row.
class EqualTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override {
        QSize size = QTabBar::tabSizeHint(index);
        const QWidget* tabs = parentWidget();
        if (tabs != nullptr && count() > 0) {
            const int width = tabs->width() / count();
            size.setWidth(index == count() - 1 ? tabs->width() - width * (count() - 1) : width);
        }
        return size;
    }
};

class OptionTabs : public QTabWidget {
public:
    explicit OptionTabs(QWidget* parent) : QTabWidget(parent) {
        auto* bar = new EqualTabBar(this);
        bar->setExpanding(false);
        bar->setUsesScrollButtons(false);
        bar->setElideMode(Qt::ElideNone);
        setTabBar(bar);
    }
};

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromUtf8(name));
    return widget;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, const QRect& at) {
    auto* box = named(new gui::Frame(caption, parent), name);
    box->setGeometry(at);
    return box;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, const QRect& at) {
    auto* l = named(new QLabel(caption, parent), name);
    l->setGeometry(at);
    return l;
}

// A check box that shows only its box; the label beside it carries the wording.
QCheckBox* checkBox(QWidget* parent, const char* name, const QRect& at) {
    auto* box = named(new QCheckBox(parent), name);
    box->setGeometry(at);
    return box;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QRect& at) {
    auto* b = named(new QPushButton(caption, parent), name);
    b->setGeometry(at);
    b->setAutoDefault(false);
    return b;
}

void setBackground(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

// The run's inputs read live from the controls, and its follow-up actions
// carried out on them. The text inputs are read once between two turns of the
// window (converting them for every file costs a share of the run): only an
// event loop or the run's own actions change a control, and each of those
// forgets them, a message box's loop too.
class WindowRun : public RunInputs, public RunActions {
public:
    explicit WindowRun(MainWindow& w) : w_(w) {
        if (auto* events = QAbstractEventDispatcher::instance()) {
            for (auto signal :
                 {&QAbstractEventDispatcher::awake, &QAbstractEventDispatcher::aboutToBlock}) {
                loops_.push_back(QObject::connect(events, signal, [this] { forgetInputs(); }));
            }
        }
    }
    ~WindowRun() override {
        for (const auto& loop : loops_) {
            QObject::disconnect(loop);
        }
    }
    WindowRun(const WindowRun&) = delete;
    WindowRun& operator=(const WindowRun&) = delete;

    std::string folder() const override { return w_.Dir1->path(); }
    long fileCount() const override { return w_.File1->listCount(); }
    std::string fileName(long index) const override { return w_.File1->list(index); }
    std::string baseName() const override { return str(w_.NewNa->text()); }
    std::string newExtension() const override {
        return remembered(newExtension_, [this] { return str(w_.NewK->text()); });
    }
    std::string selectedExtension() const override {
        return remembered(selectedExtension_, [this] { return w_.GetCNText(); });
    }
    bool nameAndExtension() const override { return w_.KaC->isChecked(); }
    bool extensionOnly() const override { return w_.KacC->isChecked(); }
    bool randomNumber() const override { return w_.LCk->isChecked(); }

    void showOptionsTab1() override {
        forgetInputs();
        w_.OpTb->setCurrentIndex(1);
        w_.OpTb->setFocus();
    }
    void focusBaseName() override {
        forgetInputs();
        if (w_.NewNa->isEnabled()) {
            w_.NewNa->setFocus();
        }
    }
    void focusNewExtension() override {
        forgetInputs();
        w_.NewK->setFocus();
    }
    void setProgressRange(long min, long max) override {
        forgetInputs();
        // An empty range would turn the bar into a busy indicator: keep it an empty bar.
        w_.PB->setMinimum(static_cast<int>(min));
        w_.PB->setMaximum(static_cast<int>(std::max(max, min + 1)));
        w_.PB->setValue(static_cast<int>(min));
        progress_ = min;
    }
    void setProgressValue(long value) override {
        // Setting the bar costs more than renaming a file on a fast disk: the
        // bar moves at the window's turns, and at once only at its two ends,
        // repainting without an event loop, so the inputs hold.
        progress_ = value;
        if (value >= w_.PB->maximum() || value <= w_.PB->minimum()) {
            showProgress();
        }
    }
    void replaceExtensionList(const std::string& ext) override {
        forgetInputs();
        {
            const QSignalBlocker quiet(w_.GetCN);
            w_.GetCN->clear();
        }
        w_.GetCN->addItem(qs(ext));
    }
    void selectFirstExtension() override {
        forgetInputs();
        if (w_.GetCN->count() > 0) {
            w_.GetCN->setCurrentRow(0);
        }
    }
    void clearTextBoxes() override {
        forgetInputs();
        w_.NewNa->clear();
        w_.NewK->clear();
    }
    void refreshFileList() override {
        forgetInputs();
        w_.File1->refresh();
    }
    void startRestore() override {
        forgetInputs();
        w_.running_ = false;
        w_.ReNm_Click();
    }
    // The window gets a turn at the first file and then about once a frame,
    // not after every file; End pressed meanwhile stops the run at the next
    // turn.
    bool yieldToEvents() override {
        if (turns_.due()) {
            showProgress();
            gui::yieldToEvents();
            forgetInputs();
        }
        return !w_.ending_;
    }

private:
    template <typename Read>
    static std::string remembered(std::optional<std::string>& slot, Read read) {
        if (!slot) {
            slot = read();
        }
        return *slot;
    }
    void forgetInputs() {
        newExtension_.reset();
        selectedExtension_.reset();
    }

    void showProgress() {
        if (w_.PB->value() != progress_) {
            w_.PB->setValue(static_cast<int>(progress_));
        }
    }

    MainWindow& w_;
    gui::EventTurns turns_;
    long progress_ = 0;
    mutable std::optional<std::string> newExtension_, selectedExtension_;
    std::vector<QMetaObject::Connection> loops_;
};

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("メイン"));
    setWindowTitle(QStringLiteral("Tavrin"));
    setWindowIcon(gui::programIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(gui::gothic(9));
    createControls();
    nameControlsForScreenReaders();
    setFocusOrder();
    Form_Load();
}

// Each control is named for a screen reader after the text a sighted user reads
// beside it: its own caption, its label or its frame. The check boxes show only
// their box, so their labels name them; the tabs say what their pages hold.
void MainWindow::nameControlsForScreenReaders() {
    gui::setAccessibleNames(this, {{"Drive1", QStringLiteral("ドライブ")},
                                   {"Dir1", QStringLiteral("フォルダー")},
                                   {"File1", QStringLiteral("ファイル")},
                                   {"GetCN", Frame5->title()},
                                   {"NewNa", Frame6->title()},
                                   {"NewK", QStringLiteral("変更後の拡張子")},
                                   {"OpTb", QStringLiteral("オプション")},
                                   {"KaC", Label4->text()},
                                   {"KacC", Label1->text()},
                                   {"RenC", Label6->text()},
                                   {"LCk", Label5->text()},
                                   {"ReNm", Frame4->title() + " " + ReNm->text()},
                                   {"PB", QStringLiteral("進行状況")}});
    const QString pages[] = {QStringLiteral("オプションの説明"), Frame2->title(), Frame3->title(),
                             Frame4->title()};
    for (int tab = 0; tab < OpTb->count(); ++tab) {
        OpTb->tabBar()->setAccessibleTabName(tab, pages[tab]);
    }
    Label4->setBuddy(KaC);
    Label1->setBuddy(KacC);
    Label6->setBuddy(RenC);
    Label5->setBuddy(LCk);
    if (auto* more = menuBar()->findChild<QWidget*>(QStringLiteral("qt_menubar_ext_button"))) {
        more->setAccessibleName(QStringLiteral("その他のメニュー"));
    }
}

void MainWindow::createControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(gui::px(7545), gui::px(4185));
    setCentralWidget(client);

    con31 = named(menuBar()->addMenu(QStringLiteral("ヘルプ")), "con31");
    con32 = named(con31->addAction(QStringLiteral("Readme")), "con32");
    con3 = named(con31->addAction(QStringLiteral("バージョン")), "con3");

    Drive1 = named(new gui::DriveList(client), "Drive1");
    Drive1->setGeometry(twips(120, 120, 1935, 300));
    Dir1 = named(new gui::FolderList(client), "Dir1");
    Dir1->setGeometry(twips(120, 480, 1935, 1140));
    File1 = named(new gui::FileList(client), "File1");
    File1->setGeometry(twips(2160, 120, 1935, 1530));

    Frame5 = frame(client, "Frame5", QStringLiteral("拡張子の選択"), twips(4200, 120, 1335, 1215));
    GetCN = named(new QListWidget(Frame5), "GetCN");
    GetCN->setGeometry(twips(240, 360, 855, 645));
    GetCN->setFont(gui::gothic(9.75, true));
    GetCN->setSelectionMode(QAbstractItemView::SingleSelection);
    gui::fitItemsToWidth(GetCN); // like File1: no horizontal scroll bar
    setBackground(GetCN, QPalette::Base, QColor(255, 224, 192));
    CoGet = button(client, "CoGet", QStringLiteral("Get"), twips(5640, 960, 735, 375));

    Frame6 =
        frame(client, "Frame6", QStringLiteral("変更後のファイル名"), twips(5640, 120, 1815, 615));
    NewNa = named(new QLineEdit(Frame6), "NewNa");
    NewNa->setGeometry(twips(240, 240, 1335, 270));
    setBaseNameEnabled(true);
    StrB = button(client, "StrB", QStringLiteral("Start"), twips(6720, 960, 735, 375));
    StrB->setEnabled(false);
    Command1 = button(client, "Command1", QStringLiteral("End"), twips(5640, 1560, 1815, 375));

    // The pages' controls are children of the tab control itself, so their
    // positions count from its top-left corner, tab row included.
    OpTb = named(new OptionTabs(client), "OpTb");
    OpTb->setGeometry(twips(120, 1680, 2460, 2055));
    for (const char* caption : {"オ", "プ", "ショ", "ン"}) {
        OpTb->addTab(new QWidget, QString::fromUtf8(caption));
    }
    Label2 =
        label(OpTb, "Label2",
              QStringLiteral("Tavrinのオプション設定です。　　　　　　　　　プ　ショ　ン　　　を"
                             "クリックしてください。"),
              twips(240, 600, 1935, 1215));
    Label2->setFont(gui::gothic(11.25));
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Frame2 = frame(OpTb, "Frame2", QStringLiteral("変更"), twips(120, 480, 2175, 1335));
    KaC = checkBox(Frame2, "KaC", twips(120, 240, 255, 255));
    Label4 =
        label(Frame2, "Label4", QStringLiteral("ファイル名と拡張子"), twips(480, 285, 1575, 255));
    KacC = checkBox(Frame2, "KacC", twips(120, 600, 255, 255));
    Label1 = label(Frame2, "Label1", QStringLiteral("拡張子のみ"), twips(480, 600, 1575, 255));
    NewK = named(new QLineEdit(Frame2), "NewK");
    NewK->setGeometry(twips(840, 960, 1215, 330));
    NewK->setFont(gui::gothic(11.25, true));
    {
        QPalette palette = NewK->palette();
        palette.setColor(QPalette::Text, QColor(255, 0, 0));
        NewK->setPalette(palette);
    }
    NewK->hide();

    Frame3 =
        frame(OpTb, "Frame3", QStringLiteral("連番　or　ランダム"), twips(120, 480, 2175, 1455));
    RenC = checkBox(Frame3, "RenC", twips(120, 240, 255, 255));
    RenC->setChecked(true);
    Label6 = label(Frame3, "Label6", QStringLiteral("連番"), twips(480, 280, 855, 255));
    LCk = checkBox(Frame3, "LCk", twips(120, 600, 255, 255));
    Label5 = label(Frame3, "Label5", QStringLiteral("ランダム"), twips(480, 640, 1215, 255));

    Frame4 = frame(OpTb, "Frame4", QStringLiteral("復元"), twips(120, 480, 2175, 1455));
    ReNm = button(Frame4, "ReNm", QStringLiteral("Ｓｔａｒｔ"), twips(240, 480, 1695, 615));
    ReNm->setFont(gui::gothic(15.75, true));
    showPageOf(0);

    FHelp = frame(client, "FHelp", QStringLiteral("　ヘルプ　"), twips(2640, 1680, 2655, 2055));
    setBackground(FHelp, QPalette::Window, QColor(255, 192, 192));
    LHlp = label(FHelp, "LHlp", QString(), twips(120, 240, 2415, 1695));
    setBackground(LHlp, QPalette::Window, QColor(224, 224, 224));
    LHlp->setWordWrap(true);
    LHlp->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    PB = named(new QProgressBar(client), "PB");
    PB->setGeometry(twips(120, 3840, 7335, 255));
    PB->setRange(0, 100);
    PB->setValue(0);
    PB->setTextVisible(false);

    for (QLabel* l : {Label2, Label4, Label1, Label6, Label5, LHlp}) {
        l->setFocusPolicy(Qt::NoFocus);
    }
    PB->setFocusPolicy(Qt::NoFocus);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // The lists start at the folder that is current for the process.
    std::string start = str(QDir::currentPath());
    if (!Dir1->setPath(start).ok()) {
        start = str(QDir::homePath());
        if (!Dir1->setPath(start).ok()) {
            start = std::string(1, platform::separator());
            Dir1->setPath(start);
        }
    }
    File1->setPath(Dir1->path());
    Drive1->setDrive(platform::driveOf(Dir1->path()), false);

    connect(Drive1, &gui::DriveList::driveChanged, this, &MainWindow::Drive1_Change);
    connect(Drive1, &gui::DriveList::gotFocus, this, &MainWindow::Drive1_GotFocus);
    connect(Dir1, &gui::FolderList::pathChanged, this, &MainWindow::Dir1_Change);
    connect(Dir1, &gui::FolderList::entryClicked, this, &MainWindow::Dir1_Click);
    connect(Dir1, &gui::FolderList::openFailed, this,
            [this](const QString& path, const QString& why) { cannotRead(str(path), str(why)); });
    connect(File1, &gui::FileList::fileClicked, this, &MainWindow::File1_Click);
    connect(File1, &gui::FileList::patternChanged, this, &MainWindow::File1_PatternChange);
    connect(GetCN, &QListWidget::itemSelectionChanged, this, &MainWindow::GetCN_Click);
    connect(CoGet, &QPushButton::clicked, this, &MainWindow::CoGet_Click);
    connect(StrB, &QPushButton::clicked, this, &MainWindow::StrB_Click);
    connect(Command1, &QPushButton::clicked, this, &MainWindow::Command1_Click);
    connect(ReNm, &QPushButton::clicked, this, &MainWindow::ReNm_Click);
    connect(KaC, &QCheckBox::toggled, this, &MainWindow::KaC_Click);
    connect(KacC, &QCheckBox::toggled, this, &MainWindow::KacC_Click);
    connect(RenC, &QCheckBox::toggled, this, &MainWindow::RenC_Click);
    connect(LCk, &QCheckBox::toggled, this, &MainWindow::LCk_Click);
    connect(OpTb, &QTabWidget::currentChanged, this, [this](int tab) {
        showPageOf(tab);
        OpTb_Click();
    });
    connect(con32, &QAction::triggered, this, &MainWindow::con32_Click);
    connect(con3, &QAction::triggered, this, &MainWindow::con3_Click);
}

void MainWindow::setFocusOrder() {
    const QList<QWidget*> order = {File1, Drive1, Dir1, StrB,  Command1, OpTb,  KaC, NewK,
                                   LCk,   RenC,   ReNm, NewNa, CoGet,    GetCN, KacC};
    for (qsizetype i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

void MainWindow::showPageOf(int tab) {
    Label2->setVisible(tab == 0);
    Frame2->setVisible(tab == 1);
    Frame3->setVisible(tab == 2);
    Frame4->setVisible(tab == 3);
    for (QWidget* page : {static_cast<QWidget*>(Label2), static_cast<QWidget*>(Frame2),
                          static_cast<QWidget*>(Frame3), static_cast<QWidget*>(Frame4)}) {
        page->raise();
    }
}

void MainWindow::showCentred() {
    if (!shownOnce_) {
        shownOnce_ = true;
        adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    show();
    raise();
    activateWindow();
}

void MainWindow::showHelp(int n) {
    FillHelpText();
    const QString text = qs(tavrinM::HelpText[static_cast<std::size_t>(n)]);
    // The longer texts would run past the label at the window's font: step the
    // size down until the whole text fits.
    QFont fitted = font();
    for (double size = font().pointSizeF(); size >= 6.0; size -= 0.25) {
        fitted.setPointSizeF(size);
        const QRect needed = QFontMetrics(fitted).boundingRect(QRect(0, 0, LHlp->width(), 100000),
                                                               Qt::TextWordWrap, text);
        if (needed.height() <= LHlp->height()) {
            break;
        }
    }
    LHlp->setFont(fitted);
    LHlp->setText(text);
}

std::string MainWindow::GetCNText() const {
    const QListWidgetItem* item = GetCN->currentItem();
    return item != nullptr && item->isSelected() ? str(item->text()) : std::string();
}

void MainWindow::setBaseNameEnabled(bool enabled) {
    NewNa->setEnabled(enabled);
    QPalette palette = NewNa->palette();
    const QColor colour = enabled ? baseNameBlue : palette.color(QPalette::Button);
    palette.setColor(QPalette::Active, QPalette::Base, colour);
    palette.setColor(QPalette::Inactive, QPalette::Base, colour);
    palette.setColor(QPalette::Disabled, QPalette::Base, colour);
    NewNa->setPalette(palette);
}

// --- Start-up and End ------------------------------------------------------------

void MainWindow::Form_Load() {
    tavrinM::ResetState();
    showHelp(4);
}

void MainWindow::Command1_Click() {
    ending_ = true; // a run in progress stops after the file in hand
    forms::endProgram();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    Command1_Click();
}

// --- Browsing --------------------------------------------------------------------

void MainWindow::cannotRead(const std::string& path, const std::string& reason) {
    tavrinM::MsgText = "ドライブまたはフォルダーを読み込めません：" + path + "\n" + reason;
    tavrinM::ShowMsg();
}

bool MainWindow::moveFolderList(const std::string& path) {
    if (const platform::Status s = Dir1->setPath(path); !s.ok()) {
        cannotRead(path, s.reason);
        return false;
    }
    return true;
}

void MainWindow::Drive1_Change() {
    if (!moveFolderList(Drive1->drive())) {
        // Back to the drive of the folder still shown, so the lists agree.
        Drive1->setDrive(platform::driveOf(Dir1->path()), false);
    }
}

void MainWindow::Drive1_GotFocus() {
    showHelp(5);
}

void MainWindow::Dir1_Click() {
    showHelp(5);
}

void MainWindow::File1_Click() {
    showHelp(5);
}

void MainWindow::Dir1_Change() {
    {
        const QSignalBlocker quiet(GetCN);
        GetCN->clear();
    }
    File1_PatternChange();
    // The folder list has just read the folder: the file list takes its files
    // from that reading instead of reading the folder a second time.
    if (std::optional<std::vector<std::string>> files = Dir1->takeFiles()) {
        File1->setPath(Dir1->path(), std::move(*files));
    } else if (const platform::Status s = File1->setPath(Dir1->path()); !s.ok()) {
        cannotRead(Dir1->path(), s.reason);
        Dir1->setPath(File1->path()); // back to the folder the file list still shows
        return;
    }
    Drive1->setDrive(platform::driveOf(Dir1->path()), false);
    CoGet->setEnabled(true);
    StrB->setEnabled(false);
}

void MainWindow::File1_PatternChange() {
    const std::string selected = GetCNText();
    File1->setPattern(selected.empty() ? "*.*" : "*." + selected);
}

// --- Extension collection --------------------------------------------------------

void MainWindow::CoGet_Click() {
    if (running_) {
        return;
    }
    {
        const QSignalBlocker quiet(GetCN);
        GetCN->clear();
    }
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(File1->listCount()));
    for (long i = 0; i < File1->listCount(); ++i) {
        names.push_back(File1->list(i));
    }
    const std::vector<std::string> extensions = CollectExtensions(names);
    if (extensions.empty()) {
        tavrinM::MsgText = "ファイルが存在しません";
        tavrinM::ShowMsg();
        Dir1->setFocus();
        return;
    }
    QStringList entries;
    entries.reserve(static_cast<qsizetype>(extensions.size()));
    for (const auto& ext : extensions) {
        entries << qs(ext);
    }
    {
        const QSignalBlocker quiet(GetCN);
        GetCN->addItems(entries);
    }
    GetCN->setCurrentRow(0);
    showHelp(6);
    CoGet->setEnabled(false);
    StrB->setEnabled(true);
}

void MainWindow::GetCN_Click() {
    File1_PatternChange();
}

// --- Options ---------------------------------------------------------------------

void MainWindow::RenC_Click() {
    if (RenC->isChecked()) {
        LCk->setChecked(false);
    }
    if (!RenC->isChecked()) {
        LCk->setChecked(true);
    }
}

void MainWindow::LCk_Click() {
    if (LCk->isChecked()) {
        RenC->setChecked(false);
    }
    if (!LCk->isChecked()) {
        RenC->setChecked(true);
    }
}

void MainWindow::KacC_Click() {
    const bool onlyExt = KacC->isChecked() && !KaC->isChecked();
    const bool onlyName = !KacC->isChecked() && KaC->isChecked();
    NewK->setVisible(onlyExt || onlyName);
    setBaseNameEnabled(!onlyExt);
}

void MainWindow::KaC_Click() {
    const bool onlyName = KaC->isChecked() && !KacC->isChecked();
    const bool onlyExt = !KaC->isChecked() && KacC->isChecked();
    NewK->setVisible(onlyName || onlyExt);
    if (onlyExt) {
        setBaseNameEnabled(false);
    }
}

void MainWindow::OpTb_Click() {
    showHelp(OpTb->currentIndex());
}

// --- Start and undo --------------------------------------------------------------

void MainWindow::setRunLocks(bool locked) {
    running_ = locked;
    for (QWidget* w : {static_cast<QWidget*>(Drive1), static_cast<QWidget*>(Dir1),
                       static_cast<QWidget*>(GetCN)}) {
        w->setEnabled(!locked);
    }
    con31->setEnabled(!locked);
}

void MainWindow::StrB_Click() {
    if (running_) {
        return;
    }
    setRunLocks(true);
    WindowRun run(*this);
    const QPointer<MainWindow> self(this);
    try {
        RenameRun(run, run);
    } catch (const std::exception& e) {
        // Memory ran short: the run's pairs are on record as after a killed
        // run, so the undo finds what it renamed.
        tavrinM::MsgText =
            "変更を中断しました：" + failureReason(e) + "\n途中までの変更は復元で元に戻せます。";
        tavrinM::ShowMsg();
    }
    if (self) {
        setRunLocks(false);
    }
}

void MainWindow::ReNm_Click() {
    if (running_) {
        return;
    }
    tavrinM::ResetState();
    tavrinM::SetHistoryPaths();
    tavrin::platform::Status lookup;
    if (!tavrinM::PathExists(tavrinM::OldIniPath, &lookup)) {
        // A folder that cannot be searched is no proof that there is no history.
        tavrinM::MsgText =
            lookup.ok() ? std::string("変更履歴がありません")
                        : "変更履歴を読み込めません：" + tavrinM::OldIniPath + "\n" + lookup.reason;
        tavrinM::ShowMsg();
        return;
    }
    // The dialog has no way back but its buttons: check that it can read the history
    // before the main window gives way to it.
    HistoryRead history = ReadHistory();
    if (!history.ok) {
        tavrinM::MsgText = "変更履歴を読み込めません：" + history.path + "\n" + history.reason;
        tavrinM::ShowMsg();
        return;
    }
    forms::unloadMainWindow();
    auto* dialog = new RestoreDialog({[] { forms::showMainWindow(); },
                                      [] {
                                          if (MainWindow* w = forms::mainWindow()) {
                                              w->File1->refresh();
                                          }
                                      }},
                                     nullptr, std::move(history));
    dialog->showCentred();
    forms::loadMainWindow();
}

// --- Menu ------------------------------------------------------------------------

void MainWindow::con32_Click() {
    if (!running_) {
        showReadme();
    }
}

void MainWindow::con3_Click() {
    if (!running_) {
        showAboutInPlaceOf(this);
    }
}

} // namespace tavrin::ui
