#include "ui/restore/restore_dialog.h"

#include "engine/history.h"
#include "engine/tavrinM.h"
#include "platform/gui/gui.h"
#include "platform/gui/lists.h"
#include "ui/restore/arrow_icon.h"

#include <QAbstractListModel>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

namespace tavrin::ui {

namespace {

using gui::twips;

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// One side of the history's pairs, the old names or the new ones, read
// straight from the pairs: a million of them need no item of their own.
class PairNameModel : public QAbstractListModel {
public:
    PairNameModel(bool oldNames, QObject* parent)
        : QAbstractListModel(parent), oldNames_(oldNames) {}

    void setPairs(std::shared_ptr<const HistoryPairs> pairs) {
        beginResetModel();
        pairs_ = std::move(pairs);
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() || !pairs_ ? 0 : static_cast<int>(pairs_->size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || role != Qt::DisplayRole || index.row() >= rowCount()) {
            return {};
        }
        const auto row = static_cast<std::size_t>(index.row());
        return fromUtf8(oldNames_ ? pairs_->oldName(row) : pairs_->newName(row));
    }

private:
    bool oldNames_;
    std::shared_ptr<const HistoryPairs> pairs_;
};

// A list that only displays its names: no current row and no selection. Keys
// scroll it instead of moving a current row; a click only gives it the focus.
class DisplayList : public QListView {
public:
    using QListView::QListView;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers) override {
        using Slider = QAbstractSlider;
        Slider::SliderAction step = Slider::SliderNoAction;
        switch (action) {
        case MoveUp:
            step = Slider::SliderSingleStepSub;
            break;
        case MoveDown:
            step = Slider::SliderSingleStepAdd;
            break;
        case MovePageUp:
            step = Slider::SliderPageStepSub;
            break;
        case MovePageDown:
            step = Slider::SliderPageStepAdd;
            break;
        case MoveHome:
            step = Slider::SliderToMinimum;
            break;
        case MoveEnd:
            step = Slider::SliderToMaximum;
            break;
        default:
            break;
        }
        verticalScrollBar()->triggerAction(step);
        return {};
    }
    void keyboardSearch(const QString&) override {}
    void mousePressEvent(QMouseEvent*) override { setFocus(Qt::MouseFocusReason); }
    void mouseDoubleClickEvent(QMouseEvent*) override {}
};

QListView* makeList(QWidget* parent, const char* name, bool oldNames, QColor text,
                    const QRect& geometry) {
    auto* list = new DisplayList(parent);
    list->setObjectName(QString::fromUtf8(name));
    list->setModel(new PairNameModel(oldNames, list));
    list->setUniformItemSizes(true); // a million rows lay out at once
    list->setGeometry(geometry);
    list->setFont(gui::gothic(11.25));
    QPalette palette = list->palette();
    palette.setColor(QPalette::Text, text);
    list->setPalette(palette);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Neither list grows a horizontal scroll bar, so both keep the same height
    // and row k of one stays beside row k of the other. A long name keeps its
    // beginning and its extension.
    gui::fitItemsToWidth(list, Qt::ElideMiddle);
    return list;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                        const QRect& geometry) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

void showMessage(const std::string& text) {
    tavrinM::MsgText = text;
    tavrinM::ShowMsg();
}

} // namespace

RestoreDialog::RestoreDialog(MainWindowLink link, QWidget* parent,
                             std::optional<HistoryRead> history)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), link_(std::move(link)),
      read_(std::move(history)) {
    setObjectName(QStringLiteral("復元確認"));
    setWindowTitle(QStringLiteral("復元確認"));
    setFixedSize(gui::px(6150), gui::px(4665));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(64, 64, 64));
    setPalette(palette);

    ListNewName =
        makeList(this, "ListNewName", false, QColor(0, 0, 255), twips(240, 240, 2535, 3435));
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twips(2880, 1560, 480, 480));
    Image1->setPixmap(QPixmap(arrowIcon32));
    ListOldName =
        makeList(this, "ListOldName", true, QColor(255, 0, 0), twips(3360, 240, 2535, 3435));
    Command1 = makeButton(this, "Command1", QStringLiteral("実行"), twips(3600, 4080, 975, 375));
    Command2 =
        makeButton(this, "Command2", QStringLiteral("キャンセル"), twips(4920, 4080, 975, 375));

    gui::setAccessibleNames(this, {{"ListNewName", QStringLiteral("変更後の名前")},
                                   {"ListOldName", QStringLiteral("元の名前")}});

    setTabOrder(ListOldName, ListNewName);
    setTabOrder(ListNewName, Command1);
    setTabOrder(Command1, Command2);

    connect(Command1, &QPushButton::clicked, this, &RestoreDialog::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &RestoreDialog::Command2_Click);
    Form_Load();
}

void RestoreDialog::Form_Load() {
    tavrinM::ResetState();
    tavrinM::SetHistoryPaths();
    HistoryRead history = read_ ? std::move(*read_) : ReadHistory();
    read_.reset();
    const std::size_t count = history.pairs.size();
    if (count > 0) {
        // The state holds the last pair, as after going through them all.
        const HistoryPair last = history.pairs[count - 1];
        tavrinM::FolderPath = last.folder;
        tavrinM::OldName = last.oldName;
        tavrinM::NewName = last.newName;
    }
    pairs_ = std::make_shared<const HistoryPairs>(std::move(history.pairs));
    for (QListView* list : {ListOldName, ListNewName}) {
        static_cast<PairNameModel*>(list->model())->setPairs(pairs_);
    }
}

void RestoreDialog::Command1_Click() {
    tavrinM::SetHistoryPaths();
    const RestoreResult result = RestoreNames();
    const std::string where = result.path + "\n" + result.reason;
    switch (result.problem) {
    case RestoreResult::Problem::Unreadable:
        showMessage("変更履歴を読み込めません：" + where);
        break;
    case RestoreResult::Problem::Refused:
        showMessage("変更履歴を書き換えられないため、復元を中止しました：" + where);
        break;
    case RestoreResult::Problem::Stopped:
        showMessage("変更履歴を書き換えられないため、復元を途中で止めました：" + where +
                    "\n元に戻していないファイルは変更履歴に残しました。");
        break;
    case RestoreResult::Problem::LookFailed:
        showMessage("ファイルを確かめられないため、復元を途中で止めました：" + where +
                    "\n元に戻していないファイルは変更履歴に残しました。");
        break;
    case RestoreResult::Problem::NotDeleted:
        showMessage("ファイルは元の名前に戻しましたが、変更履歴を削除できませんでした：" + where);
        break;
    case RestoreResult::Problem::None:
        if (!result.failed.empty()) {
            const RestoreFailure& first = result.failed.front();
            showMessage("復元できなかったファイルがあります：" +
                        std::to_string(result.failed.size()) + "件\n" + first.pair.newName + "：" +
                        first.reason + "\n" +
                        "変更履歴に残しました。原因を取り除いてから、もう一度復元できます。");
        } else {
            showMessage("復元完了");
        }
        break;
    }
    hide();
    if (link_.show) {
        link_.show();
    }
    unload();
    if (link_.refreshFileList) {
        link_.refreshFileList();
    }
}

void RestoreDialog::Command2_Click() {
    unload();
    if (link_.show) {
        link_.show();
    }
}

// The dialog has no close box, but a window manager still sends close requests.
// Left to Qt, the close would hide the program's only visible window and end the
// program; doing what "キャンセル" does keeps the history and brings the main window
// back, as closing a confirmation means everywhere else.
void RestoreDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (isVisible()) {
        Command2_Click();
    }
}

void RestoreDialog::showCentred() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
    ListOldName->setFocus();
}

void RestoreDialog::unload() {
    hide();
    deleteLater();
}

} // namespace tavrin::ui
